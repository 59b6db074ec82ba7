#include "base/Bundle.h"

#include <errno.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <simdjson.h>

namespace tw {

namespace {

// Info.json is written by the build; anything larger than this is not ours.
constexpr std::uintmax_t kMaxInfoSize = 1024 * 1024;

std::optional<Bundle::Value> scalar(simdjson::dom::element element) {
    switch (element.type()) {
        case simdjson::dom::element_type::STRING: return Bundle::Value(std::string(element.get_string().value_unsafe()));
        case simdjson::dom::element_type::BOOL: return Bundle::Value(element.get_bool().value_unsafe());
        case simdjson::dom::element_type::INT64: return Bundle::Value(element.get_int64().value_unsafe());
        case simdjson::dom::element_type::DOUBLE: return Bundle::Value(element.get_double().value_unsafe());
        default: return std::nullopt;
    }
}

std::map<std::string, Bundle::Value, std::less<>> readInfo(const std::filesystem::path& file) {
    std::map<std::string, Bundle::Value, std::less<>> values;
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kMaxInfoSize) return values;
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    if (parser.parse(text.str()).get_object().get(object) != simdjson::SUCCESS) return values;
    for (auto [key, element] : object) {
        if (auto value = scalar(element)) values.emplace(std::string(key), std::move(*value));
    }
    return values;
}

}  // namespace

Bundle::Bundle(std::filesystem::path root) : root_(std::move(root)), values_(readInfo(root_ / "Info.json")) {}

const Bundle& Bundle::main() {
    static const auto* bundle = new Bundle(locateRoot());
    return *bundle;
}

std::filesystem::path Bundle::locateRoot() {
    if (const char* overridden = std::getenv("TARNWICK_BUNDLE"); overridden && *overridden) {
        return overridden;
    }
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return executable.parent_path().parent_path() / "lib" / "tarnwick";
}

std::optional<Bundle::Value> Bundle::value(std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> Bundle::string(std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&it->second)) return *text;
    return std::nullopt;
}

std::string Bundle::resourcePath(std::string_view name) const {
    if (name.empty() || name.find('/') != std::string_view::npos) return {};
    const auto path = root_ / "Resources" / name;
    std::error_code error;
    return std::filesystem::exists(path, error) ? path.string() : std::string();
}

std::vector<std::filesystem::path> Bundle::systemExtensions() const {
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(root_ / "Library" / "SystemExtensions", error), end;
         !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string Bundle::processName() { return program_invocation_short_name; }

}  // namespace tw
