#include "helper/HelperOptions.h"

#include <charconv>
#include <chrono>

namespace tw {

namespace {

// Decimal seconds, at most an hour, for example "5" or "0.25".
std::optional<std::chrono::milliseconds> seconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (!(value >= 0 && value <= 3600)) return std::nullopt;
    return std::chrono::milliseconds(static_cast<long long>(value * 1000));
}

bool setSeconds(std::chrono::milliseconds& field, std::string_view text) {
    const auto value = seconds(text);
    if (value) field = *value;
    return value.has_value();
}

using Setter = bool (*)(HelperOptions&, std::string_view);

struct Option {
    std::string_view name;
    Setter set;
};

// Every option takes a value; a setter says whether the value is acceptable.
constexpr Option kOptions[] = {
    {"--socket", [](HelperOptions& o, std::string_view v) { return (o.socket = v, true); }},
    {"--resources", [](HelperOptions& o, std::string_view v) { return (o.resources = v, true); }},
    {"--syslog-file",
     [](HelperOptions& o, std::string_view v) { return (o.syslogFile = v, true); }},
    {"--group", [](HelperOptions& o, std::string_view v) { return (o.group = v, true); }},
    {"--daemon-socket",
     [](HelperOptions& o, std::string_view v) { return (o.tool.daemonSocket = v, true); }},
    {"--daemon-log",
     [](HelperOptions& o, std::string_view v) { return (o.tool.daemonLog = v, true); }},
    {"--pkill", [](HelperOptions& o, std::string_view v) { return (o.tool.pkill = v, true); }},
    {"--daemon-stop-timeout",
     [](HelperOptions& o, std::string_view v) { return setSeconds(o.tool.daemonStopTimeout, v); }},
    {"--command-timeout",
     [](HelperOptions& o, std::string_view v) { return setSeconds(o.tool.commandTimeout, v); }},
};

const Option* find(std::string_view name) {
    for (const auto& option : kOptions) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

}  // namespace

std::expected<HelperOptions, std::string> HelperOptions::parse(
    std::span<const std::string_view> args) {
    HelperOptions options;
    for (std::size_t index = 0; index < args.size(); index += 2) {
        const auto* option = find(args[index]);
        if (option == nullptr) return std::unexpected("unknown option " + std::string(args[index]));
        if (index + 1 == args.size()) {
            return std::unexpected(std::string(args[index]) + " needs a value");
        }
        if (args[index + 1].empty() || !option->set(options, args[index + 1])) {
            return std::unexpected("invalid value for " + std::string(args[index]));
        }
    }
    return options;
}

}  // namespace tw
