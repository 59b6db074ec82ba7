#include "base/AppLogger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <latch>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::Each;

struct Line {
    std::string category;
    std::string timestamp;
    std::string message;
};

// One line of the file, without its line feed.
std::optional<Line> parseLine(const std::string& text) {
    static const std::regex format(
        R"(\[([^\]]*)\] (\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}) (.*))");
    std::smatch match;
    if (!std::regex_match(text, match, format)) return std::nullopt;
    return Line{match[1], match[2], match[3]};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// The file's lines; a last line without its line feed comes back with a "<cut>" mark.
std::vector<std::string> readLines(const std::string& path) {
    const auto content = readFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = content.find('\n'); end != std::string::npos; end = content.find('\n', start)) {
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    if (start < content.size()) lines.push_back(content.substr(start) + "<cut>");
    return lines;
}

std::vector<std::string> messagesIn(const std::string& path) {
    std::vector<std::string> messages;
    for (const auto& text : readLines(path)) {
        const auto line = parseLine(text);
        messages.push_back(line ? line->message : "unparsable: " + text);
    }
    return messages;
}


// Switches the local time zone for the scope.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : env_(std::in_place, "TZ", zone) { ::tzset(); }
    ~ScopedTimeZone() {
        env_.reset();
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<ScopedEnv> env_;
};

// Changes the working folder for the scope.
class ScopedCurrentPath {
public:
    explicit ScopedCurrentPath(const fs::path& path) : saved_(fs::current_path()) {
        fs::current_path(path);
    }
    ~ScopedCurrentPath() { fs::current_path(saved_); }
    ScopedCurrentPath(const ScopedCurrentPath&) = delete;
    ScopedCurrentPath& operator=(const ScopedCurrentPath&) = delete;

private:
    fs::path saved_;
};

class AppLoggerTest : public ::testing::Test {
protected:
    AppLogger& logger() { return *test.logger(); }
    const std::string& path() { return logger().logPath(); }

    TestLogger test;
};

// --- what is written ---

TEST_F(AppLoggerTest, WritesCategoryTimestampAndMessageAsOneLine) {
    logger().log("Daemon", "connected to the daemon");
    logger().waitUntilWritten();

    static const std::regex whole(
        R"(\[Daemon\] \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} connected to the daemon\n)");
    EXPECT_TRUE(std::regex_match(readFile(path()), whole)) << readFile(path());
}

// "yyyy-MM-dd HH:mm:ss.SSS" of `when` in the local time zone; such strings sort by time.
std::string localTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::array<char, 32> text{};
    const auto n = std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
    const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
    std::snprintf(text.data() + n, text.size() - n, ".%03d", static_cast<int>(millis));
    return text.data();
}

TEST_F(AppLoggerTest, TimestampIsTheLocalTimeOfTheCall) {
    // Far from UTC, so that a timestamp in UTC could not pass.
    ScopedTimeZone zone("TWT-14");
    const auto before = localTimestamp(std::chrono::system_clock::now());
    logger().log("Clock", "tick");
    const auto after = localTimestamp(std::chrono::system_clock::now());
    logger().waitUntilWritten();

    const auto lines = readLines(path());
    ASSERT_EQ(lines.size(), 1u);
    const auto line = parseLine(lines[0]);
    ASSERT_TRUE(line.has_value()) << lines[0];
    EXPECT_LE(before, line->timestamp);
    EXPECT_LE(line->timestamp, after);
}

TEST_F(AppLoggerTest, SystemLogGetsCategoryAndMessageWithoutTimestampOrLineFeedAtOnce) {
    logger().log("Daemon", "connected");
    EXPECT_THAT(test.records(), ElementsAre("[Daemon] connected"));
}

TEST_F(AppLoggerTest, MessageWithAnEmbeddedLineFeedIsWrittenUnchanged) {
    logger().log("Login", "first\nsecond");
    logger().waitUntilWritten();

    static const std::regex whole(R"(\[Login\] [-0-9]{10} [:.0-9]{12} first\nsecond\n)");
    EXPECT_TRUE(std::regex_match(readFile(path()), whole)) << readFile(path());
    EXPECT_THAT(test.records(), ElementsAre("[Login] first\nsecond"));
}

// --- the file ---

TEST_F(AppLoggerTest, FirstCallCreatesTheFileWithExactlyOneLine) {
    ASSERT_FALSE(fs::exists(path()));
    logger().log("Daemon", "one");
    logger().waitUntilWritten();
    EXPECT_THAT(messagesIn(path()), ElementsAre("one"));
}

TEST_F(AppLoggerTest, LaterCallsAppendInCallOrder) {
    for (const char* message : {"one", "two", "three"}) logger().log("Daemon", message);
    logger().waitUntilWritten();
    EXPECT_THAT(messagesIn(path()), ElementsAre("one", "two", "three"));
}

TEST_F(AppLoggerTest, KeepsWhatTheFileAlreadyHolds) {
    std::ofstream(path()) << "[Daemon] 2024-01-01 00:00:00.000 from an earlier run\n";

    logger().log("Daemon", "this run");
    logger().waitUntilWritten();

    EXPECT_THAT(messagesIn(path()), ElementsAre("from an earlier run", "this run"));
}

TEST_F(AppLoggerTest, WaitUntilWrittenWaitsForEveryQueuedLine) {
    constexpr int kLines = 2000;
    for (int i = 0; i < kLines; ++i) logger().log("Burst", std::to_string(i));
    logger().waitUntilWritten();
    EXPECT_EQ(readLines(path()).size(), std::size_t{kLines});
}

// --- files that cannot be written ---

class AppLoggerUnwritableTest : public ::testing::Test {
protected:
    // Logs one line to `logPath`; the caller checks the file side.
    void logTo(const std::string& logPath) {
        AppLogger logger(logPath, [this](const std::string& record) { records.push_back(record); });
        logger.log("Daemon", "lost");
        logger.waitUntilWritten();
    }

    TempDir dir;
    std::vector<std::string> records;
};

TEST_F(AppLoggerUnwritableTest, PathInAMissingFolderLosesTheLineButTheSystemLogGetsIt) {
    logTo(dir.file("missing/app.log"));
    EXPECT_FALSE(fs::exists(dir.file("missing")));
    EXPECT_THAT(records, ElementsAre("[Daemon] lost"));
}

TEST_F(AppLoggerUnwritableTest, PathThatIsAFolderLosesTheLineButTheSystemLogGetsIt) {
    // Tests run as root, where permission bits would not stop the write; a folder does.
    logTo(dir.file("."));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_THAT(records, ElementsAre("[Daemon] lost"));
}

// --- many threads ---

TEST_F(AppLoggerTest, EightThreadsLeaveEveryLineWholeAndInEachThreadsCallOrder) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 10000;
    std::latch start(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int i = 0; i < kLinesEach; ++i) {
                    logger().log("Stress", std::to_string(t) + " " + std::to_string(i));
                }
            });
        }
    }
    logger().waitUntilWritten();

    const auto lines = readLines(path());
    ASSERT_EQ(lines.size(), std::size_t{kThreads * kLinesEach});
    std::array<int, kThreads> next{};
    for (const auto& text : lines) {
        const auto line = parseLine(text);
        int thread = -1;
        int index = -1;
        ASSERT_TRUE(line && line->category == "Stress" &&
                    std::sscanf(line->message.c_str(), "%d %d", &thread, &index) == 2 &&
                    thread >= 0 && thread < kThreads)
            << text;
        ASSERT_EQ(index, next[static_cast<std::size_t>(thread)]++) << "thread " << thread;
    }
    EXPECT_THAT(next, Each(kLinesEach));
    EXPECT_EQ(test.records().size(), std::size_t{kThreads * kLinesEach});
}

// --- where the log goes ---

class AppLoggerLogPathTest : public ::testing::Test {
protected:
    std::string under(const std::string& relative) const { return (dir.path() / relative).string(); }

    TempDir dir;
    ScopedEnv xdg{"XDG_DATA_HOME", nullptr};
    ScopedEnv home{"HOME", nullptr};
    ScopedEnv tmp{"TMPDIR", nullptr};
};

TEST_F(AppLoggerLogPathTest, UsesXdgDataHomeAndCreatesTheFolder) {
    ::setenv("XDG_DATA_HOME", under("data").c_str(), 1);
    ::setenv("HOME", under("home").c_str(), 1);

    EXPECT_EQ(AppLogger::resolveLogPath(), under("data/Tarnwick/app.log"));
    EXPECT_TRUE(fs::is_directory(under("data/Tarnwick")));
    EXPECT_FALSE(fs::exists(under("home")));
}

TEST_F(AppLoggerLogPathTest, UsesHomeWhenXdgDataHomeIsUnsetAndCreatesTheFolder) {
    ::setenv("HOME", under("home").c_str(), 1);

    EXPECT_EQ(AppLogger::resolveLogPath(), under("home/.local/share/Tarnwick/app.log"));
    EXPECT_TRUE(fs::is_directory(under("home/.local/share/Tarnwick")));
}

TEST_F(AppLoggerLogPathTest, TreatsAnEmptyOrRelativeXdgDataHomeAsUnset) {
    ::setenv("HOME", under("home").c_str(), 1);
    ScopedCurrentPath inside(dir.path());  // where a relative value would lead
    for (const char* value : {"", "relative/data"}) {
        ::setenv("XDG_DATA_HOME", value, 1);
        EXPECT_EQ(AppLogger::resolveLogPath(), under("home/.local/share/Tarnwick/app.log"))
            << "XDG_DATA_HOME=" << value;
    }
    EXPECT_FALSE(fs::exists(under("relative")));
}

TEST_F(AppLoggerLogPathTest, UsesTheTemporaryFolderWithoutXdgDataHomeOrHome) {
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    EXPECT_EQ(AppLogger::resolveLogPath(), under("tarnwick-app.log"));
}

}  // namespace
}  // namespace tw
