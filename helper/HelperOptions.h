#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "helper/HelperToolSettings.h"

namespace tw {

// The helper's command line. Every option has the production value as its default; tests use
// them to run the helper on temporary files.
struct HelperOptions {
    std::string socket = "/run/tarnwick/helper.sock";
    std::optional<std::string> resources;   // default: found from the helper's own location
    std::optional<std::string> syslogFile;  // default: the system log
    std::string group = "tarnwick";
    HelperToolSettings tool;

    static constexpr std::string_view kUsage =
        "usage: tarnwick-helper [--socket PATH] [--resources DIR] [--daemon-socket PATH] "
        "[--daemon-log PATH] [--pkill PATH] [--daemon-stop-timeout SECONDS] "
        "[--command-timeout SECONDS] [--group NAME] "
        "[--syslog-file PATH]";

    // The arguments after the program name; on failure, what is wrong.
    static std::expected<HelperOptions, std::string> parse(std::span<const std::string_view> args);
};

}  // namespace tw
