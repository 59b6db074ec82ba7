#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tw {

// The application's relocatable bundle: a root folder holding Info.json (the application's typed
// keys), Resources/ and Library/. Installed, the root is <prefix>/lib/tarnwick next to
// <prefix>/bin; the environment variable TARNWICK_BUNDLE overrides that (runs from the build tree,
// tests).
class Bundle {
public:
    // A value of Info.json with its JSON type kept; objects and arrays are not used and read as
    // absent.
    using Value = std::variant<std::string, bool, std::int64_t, double>;

    // Reads `root`/Info.json. A missing or damaged file leaves every key absent.
    explicit Bundle(std::filesystem::path root);

    // The running application's bundle, found once.
    static const Bundle& main();
    // TARNWICK_BUNDLE when set and not empty, else the executable's ../lib/tarnwick.
    static std::filesystem::path locateRoot();

    const std::filesystem::path& root() const { return root_; }

    std::optional<Value> value(std::string_view key) const;
    // The key's value when it is a string; absent when missing or of another type.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<std::string> bundleIdentifier() const { return string("CFBundleIdentifier"); }

    // The path of Resources/`name` when that file exists, else "".
    std::string resourcePath(std::string_view name) const;
    // The entries of Library/SystemExtensions, sorted by name; empty when the folder is missing.
    std::vector<std::filesystem::path> systemExtensions() const;

    // The name the process was started under (its executable's file name).
    static std::string processName();

private:
    std::filesystem::path root_;
    std::map<std::string, Value, std::less<>> values_;
};

}  // namespace tw
