#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tw {

// The user's preferences (what other platforms call user defaults): one JSON object of keys and
// values in one file. Every call reads the file afresh, so that instances on the same file, and
// other processes, see each other's writes; a write replaces the file atomically (AtomicFile).
// A missing or damaged file (not a JSON object, not UTF-8, larger than 1 MiB, unreadable) reads as
// empty and is replaced by the next write. Values of keys this program does not know, of any JSON
// type, are kept as they are. Safe to call from any thread.
class Preferences {
  public:
    explicit Preferences(std::filesystem::path file);
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path (the XDG rules
    // call a relative one invalid), else $HOME/.config; empty when neither is set.
    static std::filesystem::path configHome();
    // configHome()/tarnwick/preferences.json; empty without a configuration folder.
    static std::filesystem::path defaultPath();
    // The process-wide instance on defaultPath(). Created on first use, never destroyed.
    static const std::shared_ptr<Preferences>& shared();

    const std::filesystem::path& path() const { return path_; }

    // The key's value when it is present and a string.
    std::optional<std::string> string(std::string_view key) const;
    // Stores a string, creating the file and its folder when needed. False when the key or the
    // value is not UTF-8 (the file would no longer read back) or the file cannot be written; the
    // file is then unchanged.
    bool setString(std::string_view key, std::string_view value);
    // Removes the key. Writes only when the key was present; false when that write failed.
    bool remove(std::string_view key);

  private:
    // Key to value, the value as minified JSON text.
    using Entries = std::map<std::string, std::string, std::less<>>;

    Entries load() const;
    bool store(const Entries& entries) const;

    const std::filesystem::path path_;
    // Keeps this process's read-modify-write cycles from losing each other's changes.
    mutable std::mutex mutex_;
};

}  // namespace tw
