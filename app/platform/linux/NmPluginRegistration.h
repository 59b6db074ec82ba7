#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tw {

// A NetworkManager VPN plugin registration (a ".name" key file): the plugin's bus name (its
// identifier) and program. NetworkManager ignores one that is not root's or that others may
// write.
struct NmPluginRegistration {
    std::filesystem::path file;
    std::string identifier;  // [VPN Connection] service
    std::string program;     // [VPN Connection] program

    // Absent when the file is unreadable, too large or has no service.
    static std::optional<NmPluginRegistration> read(const std::filesystem::path& file);
    static std::optional<NmPluginRegistration> parse(const std::string& text);
    // `text` with the program line of [VPN Connection] replaced by `program`.
    static std::string withProgram(const std::string& text, const std::string& program);

    // Whether NetworkManager would load the file: owned by root, writable by nobody else.
    bool isTrusted() const;
};

}  // namespace tw
