#include <gtest/gtest.h>

#include <vector>

#include "helper/HelperOptions.h"

namespace tw {
namespace {

using namespace std::chrono_literals;

std::expected<HelperOptions, std::string> parse(std::vector<std::string_view> args) {
    return HelperOptions::parse(args);
}

TEST(HelperOptionsTest, DefaultsToTheProductionPlaces) {
    const auto options = parse({});
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->socket, "/run/tarnwick/helper.sock");
    EXPECT_EQ(options->resources, std::nullopt);
    EXPECT_EQ(options->syslogFile, std::nullopt);
    EXPECT_EQ(options->group, "tarnwick");
    EXPECT_EQ(options->tool.daemonSocket, "/var/run/tarnwickd.socket");
    EXPECT_EQ(options->tool.daemonLog, "/tmp/tarnwickd.log");
    EXPECT_EQ(options->tool.pkill, "/usr/bin/pkill");
    EXPECT_EQ(options->tool.daemonStopTimeout, 5s);
}

TEST(HelperOptionsTest, TakesEveryPlaceFromTheCommandLine) {
    const auto options =
        parse({"--socket", "/t/h.sock", "--resources", "/t/R", "--syslog-file", "/t/log", "--group",
               "staff", "--daemon-socket", "/t/d.sock", "--daemon-log", "/t/d.log", "--pkill",
               "/t/pkill", "--daemon-stop-timeout", "0.25"});
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_EQ(options->socket, "/t/h.sock");
    EXPECT_EQ(options->resources, "/t/R");
    EXPECT_EQ(options->syslogFile, "/t/log");
    EXPECT_EQ(options->group, "staff");
    EXPECT_EQ(options->tool.daemonSocket, "/t/d.sock");
    EXPECT_EQ(options->tool.daemonLog, "/t/d.log");
    EXPECT_EQ(options->tool.pkill, "/t/pkill");
    EXPECT_EQ(options->tool.daemonStopTimeout, 250ms);
}

TEST(HelperOptionsTest, RefusesUnknownOptionsMissingAndEmptyValues) {
    EXPECT_EQ(parse({"--sockets", "/x"}).error(), "unknown option --sockets");
    EXPECT_EQ(parse({"/x"}).error(), "unknown option /x");
    EXPECT_EQ(parse({"--socket"}).error(), "--socket needs a value");
    EXPECT_EQ(parse({"--pkill", ""}).error(), "invalid value for --pkill");
}

TEST(HelperOptionsTest, RefusesAStopTimeoutThatIsNoSensibleNumberOfSeconds) {
    for (const std::string_view value : {"-1", "abc", "5s", "3601", "nan", "inf"}) {
        EXPECT_EQ(parse({"--daemon-stop-timeout", value}).error(),
                  "invalid value for --daemon-stop-timeout")
            << value;
    }
    EXPECT_EQ(parse({"--daemon-stop-timeout", "0"})->tool.daemonStopTimeout, 0ms);
}

}  // namespace
}  // namespace tw
