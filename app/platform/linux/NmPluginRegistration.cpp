#include "app/platform/linux/NmPluginRegistration.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace tw {

namespace {

// Registrations are a few lines; anything larger is not one.
constexpr std::uintmax_t kMaxSize = 64 * 1024;
constexpr std::string_view kGroup = "[VPN Connection]";

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) return {};
    const auto end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

// Calls `entry(key, value, line)` for every line, with an empty key outside [VPN Connection].
template <typename Entry>
void forEachLine(const std::string& text, Entry entry) {
    std::istringstream lines(text);
    bool inGroup = false;
    for (std::string line; std::getline(lines, line);) {
        const auto content = trimmed(line);
        if (content.starts_with('[')) inGroup = content == kGroup;
        const auto equals = content.find('=');
        const bool isEntry = inGroup && !content.starts_with('#') && equals != std::string::npos;
        entry(isEntry ? trimmed(content.substr(0, equals)) : std::string(),
              isEntry ? trimmed(content.substr(equals + 1)) : std::string(), line);
    }
}

}  // namespace

std::optional<NmPluginRegistration> NmPluginRegistration::parse(const std::string& text) {
    NmPluginRegistration registration;
    forEachLine(text, [&](const std::string& key, const std::string& value, const std::string&) {
        if (key == "service") registration.identifier = value;
        if (key == "program") registration.program = value;
    });
    if (registration.identifier.empty()) return std::nullopt;
    return registration;
}

std::optional<NmPluginRegistration> NmPluginRegistration::read(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kMaxSize) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    auto registration = parse(text.str());
    if (registration) registration->file = file;
    return registration;
}

std::string NmPluginRegistration::withProgram(const std::string& text, const std::string& program) {
    std::string result;
    forEachLine(text, [&](const std::string& key, const std::string&, const std::string& line) {
        result += key == "program" ? "program=" + program : line;
        result += '\n';
    });
    return result;
}

bool NmPluginRegistration::isTrusted() const {
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 && status.st_uid == 0 &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace tw
