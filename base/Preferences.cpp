#include "base/Preferences.h"

#include <simdjson.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "base/AtomicFile.h"
#include "base/Environment.h"
#include "base/Utf8.h"

namespace tw {

namespace {

// Far above what a few keys take; a larger file is not ours.
constexpr std::size_t kMaxFileSize = 1024 * 1024;

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace

Preferences::Preferences(std::filesystem::path file) : path_(std::move(file)) {}

std::filesystem::path Preferences::configHome() {
    std::filesystem::path home = nonEmptyEnv("XDG_CONFIG_HOME");
    if (home.is_absolute()) return home;
    home = nonEmptyEnv("HOME");
    return home.empty() ? home : home / ".config";
}

std::filesystem::path Preferences::defaultPath() {
    const auto home = configHome();
    return home.empty() ? home : home / "tarnwick" / "preferences.json";
}

const std::shared_ptr<Preferences>& Preferences::shared() {
    static auto* preferences = new std::shared_ptr<Preferences>(
        std::shared_ptr<Preferences>(new Preferences(defaultPath()), [](Preferences*) {}));
    return *preferences;
}

std::optional<std::string> Preferences::string(std::string_view key) const {
    const std::lock_guard lock(mutex_);
    const auto entries = load();
    const auto it = entries.find(key);
    if (it == entries.end()) return std::nullopt;
    simdjson::dom::parser parser;
    std::string_view text;
    if (parser.parse(it->second).get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
    return std::string(text);
}

bool Preferences::setString(std::string_view key, std::string_view value) {
    if (!isValidUtf8(key) || !isValidUtf8(value)) return false;
    const std::lock_guard lock(mutex_);
    auto entries = load();
    entries.insert_or_assign(std::string(key), jsonString(value));
    return store(entries);
}

bool Preferences::remove(std::string_view key) {
    const std::lock_guard lock(mutex_);
    auto entries = load();
    const auto it = entries.find(key);
    if (it == entries.end()) return true;
    entries.erase(it);
    return store(entries);
}

Preferences::Entries Preferences::load() const {
    Entries entries;
    if (path_.empty()) return entries;
    const auto text = AtomicFile::read(path_, kMaxFileSize);
    if (!text) return entries;
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    if (parser.parse(*text).get_object().get(object) != simdjson::SUCCESS) return entries;
    // A key repeated in the file keeps its first value, as a reader of the object would see it.
    for (const auto [key, value] : object)
        entries.emplace(std::string(key), simdjson::minify(value));
    return entries;
}

bool Preferences::store(const Entries& entries) const {
    if (path_.empty()) return false;
    std::string text = "{";
    const char* separator = "\n";
    for (const auto& [key, value] : entries) {
        text.append(separator).append("  ").append(jsonString(key)).append(": ").append(value);
        separator = ",\n";
    }
    text.append(entries.empty() ? "}\n" : "\n}\n");
    std::error_code ignored;
    std::filesystem::create_directories(path_.parent_path(), ignored);
    return AtomicFile::write(path_, text, S_IRUSR | S_IWUSR).has_value();
}

}  // namespace tw
