// The daemon path of the real helper: "up" for the bundle's daemon starts it detached, after
// stopping the previous one and clearing its socket, with its output appended to the log.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "base/UnixSocket.h"
#include "tests/helper/RunningHelper.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;

bool isHeader(const std::string& line) {
    static const std::regex header(
        R"(--- tarnwickd started at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 ---)");
    return std::regex_match(line, header);
}

std::size_t headerCount(const std::vector<std::string>& lines) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), isHeader));
}

bool isAlive(pid_t pid) { return ::kill(pid, 0) == 0; }

// Exited, whether or not its parent has reaped it yet.
bool hasExited(pid_t pid) {
    const std::string stat = RunningHelper::contents("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z';
}

// The position of `line` in the system log, or the log's size when it is not there.
std::size_t positionOf(const std::vector<std::string>& log, const std::string& line) {
    return static_cast<std::size_t>(std::find(log.begin(), log.end(), line) - log.begin());
}

class HelperDaemonTest : public ::testing::Test {
protected:
    void SetUp() override { helper.start({"--daemon-stop-timeout", "10"}); }

    // Waits until the daemon the helper last reported has recorded itself as running.
    bool waitForRunning(pid_t pid) const {
        return RunningHelper::waitUntil([&] {
            const auto running = helper.runningDaemons();
            return std::find(running.begin(), running.end(), pid) != running.end();
        });
    }

    std::string spawnedLine(pid_t pid) const {
        return "spawned tarnwickd up (non-blocking), pid: " + std::to_string(pid) +
               ". logging to " + helper.daemonLog();
    }

    RunningHelper helper;
};

TEST_F(HelperDaemonTest, StartsTheDaemonDetachedAndRepliesSpawned) {
    EXPECT_EQ(helper.run(helper.daemon(), {"up", "--conductor-host", "x"}), "spawned");
    ASSERT_THAT(helper.spawnedDaemons(), SizeIs(1));
    const pid_t daemon = helper.spawnedDaemons().front();
    EXPECT_THAT(helper.systemLog(), Contains(spawnedLine(daemon)));
    EXPECT_TRUE(waitForRunning(daemon));
    EXPECT_EQ(::getsid(daemon), daemon) << "the daemon should lead its own session";
}

TEST_F(HelperDaemonTest, WritesOneHeaderThenTheDaemonsOutputToTheLog) {
    ASSERT_EQ(helper.run(helper.daemon(), {"up", "--conductor-host", "x"}), "spawned");
    ASSERT_TRUE(RunningHelper::waitUntil(
        [&] { return RunningHelper::lines(helper.daemonLog()).size() >= 3; }));
    const auto log = RunningHelper::lines(helper.daemonLog());
    EXPECT_EQ(headerCount(log), 1u);
    EXPECT_TRUE(isHeader(log.at(0))) << log.at(0);
    EXPECT_EQ(log.at(1), "tarnwickd up --conductor-host x");
    EXPECT_EQ(log.at(2),
              "TW_SKIP_RUNNING_CHECK=1 PATH=/usr/bin:/bin:/usr/sbin:/sbin:/usr/local/bin");
}

TEST_F(HelperDaemonTest, AppendsToAnExistingLogWithAHeaderPerStart) {
    std::ofstream(helper.daemonLog()) << "from before\n";
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    const auto log = RunningHelper::lines(helper.daemonLog());
    EXPECT_EQ(log.at(0), "from before");
    EXPECT_EQ(headerCount(log), 2u);
}

TEST_F(HelperDaemonTest, TerminatesThePreviousDaemonBeforeStartingTheNext) {
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    const pid_t first = helper.spawnedDaemons().at(0);
    ASSERT_TRUE(waitForRunning(first));
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    const pid_t second = helper.spawnedDaemons().at(1);
    ASSERT_TRUE(waitForRunning(second));
    EXPECT_THAT(helper.runningDaemons(), ElementsAre(second));
    EXPECT_FALSE(isAlive(first)) << "the previous daemon was not reaped";
    const auto log = helper.systemLog();
    const std::string terminating =
        "Terminating existing tarnwickd process (pid: " + std::to_string(first) + ")";
    EXPECT_LT(positionOf(log, terminating), positionOf(log, spawnedLine(second)));
}

TEST_F(HelperDaemonTest, DoesNotTerminateADaemonThatHasAlreadyExited) {
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    const pid_t first = helper.spawnedDaemons().at(0);
    ASSERT_TRUE(waitForRunning(first));
    ::kill(first, SIGTERM);
    // Its record goes a moment before the process does.
    ASSERT_TRUE(RunningHelper::waitUntil([&] { return hasExited(first); }));
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    EXPECT_THAT(helper.systemLog(), Not(Contains(StartsWith("Terminating existing"))));
    EXPECT_FALSE(isAlive(first)) << "the exited daemon was left a zombie";
}

TEST_F(HelperDaemonTest, SerialisesConcurrentStartsSoThatOneDaemonRunsAtATime) {
    std::vector<std::string> replies(4);
    std::vector<std::thread> clients;
    for (auto& reply : replies) {
        clients.emplace_back([&] { reply = helper.run(helper.daemon(), {"up"}); });
    }
    for (auto& client : clients) client.join();
    EXPECT_THAT(replies, testing::Each(std::string("spawned")));
    const auto spawned = helper.spawnedDaemons();
    ASSERT_THAT(spawned, SizeIs(4));
    ASSERT_TRUE(waitForRunning(spawned.back()));
    EXPECT_THAT(helper.runningDaemons(), ElementsAre(spawned.back()));
    EXPECT_EQ(RunningHelper::contents(helper.dir().file("overlaps")), "");
    for (std::size_t index = 0; index + 1 < spawned.size(); ++index) {
        EXPECT_FALSE(isAlive(spawned[index]));
    }
}

// --- the daemon's socket ---

TEST_F(HelperDaemonTest, LeavesAMissingSocketAloneAndRunsNoPkill) {
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    EXPECT_THAT(helper.pkillCalls(), IsEmpty());
    EXPECT_THAT(helper.systemLog(), Not(Contains(StartsWith("Removed socket file"))));
    EXPECT_THAT(helper.systemLog(), Not(Contains(StartsWith("Failed to remove socket file"))));
}

TEST_F(HelperDaemonTest, RemovesAStaleSocketWithoutRunningPkill) {
    ASSERT_TRUE(UnixSocket::listen(helper.daemonSocket()).has_value());  // closed at once
    ASSERT_TRUE(std::filesystem::exists(helper.daemonSocket()));
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    EXPECT_FALSE(std::filesystem::exists(helper.daemonSocket()));
    EXPECT_THAT(helper.systemLog(), Contains("Removed socket file: " + helper.daemonSocket()));
    EXPECT_THAT(helper.pkillCalls(), IsEmpty());
    EXPECT_THAT(helper.systemLog(), Not(Contains(StartsWith("Orphaned"))));
}

TEST_F(HelperDaemonTest, KillsAnOrphanBehindALiveSocketThenRemovesIt) {
    const auto orphan = UnixSocket::listen(helper.daemonSocket());
    ASSERT_TRUE(orphan.has_value());
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    EXPECT_THAT(helper.pkillCalls(), ElementsAre("-x tarnwickd"));
    EXPECT_FALSE(std::filesystem::exists(helper.daemonSocket()));
    const auto log = helper.systemLog();
    const auto orphaned =
        positionOf(log, "Orphaned tarnwickd detected via live socket; sending SIGTERM");
    const auto removed = positionOf(log, "Removed socket file: " + helper.daemonSocket());
    EXPECT_LT(orphaned, removed);
    EXPECT_LT(removed, log.size());
}

TEST_F(HelperDaemonTest, StartsAnywayWhenTheSocketCannotBeRemoved) {
    std::filesystem::create_directory(helper.daemonSocket());
    std::ofstream(helper.daemonSocket() + "/keep") << "";
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    EXPECT_THAT(helper.systemLog(), Contains(StartsWith("Failed to remove socket file: ")));
}

// --- the log file ---

TEST_F(HelperDaemonTest, LeavesASymlinkedLogAloneAndKeepsTheOutputOnItsOwnStreams) {
    const std::string target = helper.dir().file("precious");
    std::ofstream(target) << "keep me\n";
    ASSERT_EQ(::symlink(target.c_str(), helper.daemonLog().c_str()), 0);
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    EXPECT_TRUE(RunningHelper::waitUntil(
        [&] { return helper.helperOutput().find("tarnwickd up") != std::string::npos; }));
    EXPECT_EQ(RunningHelper::contents(target), "keep me\n");
    EXPECT_TRUE(std::filesystem::is_symlink(helper.daemonLog()));
    EXPECT_THAT(helper.systemLog(),
                Contains(StartsWith("Not redirecting tarnwickd output to " + helper.daemonLog())));
}

TEST_F(HelperDaemonTest, ReportsADaemonThatCannotBeExecutedAsASpawnError) {
    ASSERT_EQ(::chmod(helper.daemon().c_str(), 0644), 0);
    EXPECT_EQ(helper.run(helper.daemon(), {"up"}),
              "Error spawning tarnwickd: Error Domain=POSIX Code=13 \"Permission denied\" path=" +
                  helper.daemon());
    EXPECT_THAT(helper.systemLog(), Contains("Error spawning tarnwickd: Permission denied"));
}

// A daemon that ignores SIGTERM must not keep every later start waiting.
TEST(HelperDaemonStopTest, KillsAPreviousDaemonThatIgnoresTerminationAfterTheBoundedWait) {
    RunningHelper helper;
    helper.start({"--daemon-stop-timeout", "0.2"});
    ASSERT_EQ(helper.run(helper.daemon(), {"up", "--ignore-term"}), "spawned");
    const pid_t stubborn = helper.spawnedDaemons().at(0);
    ASSERT_TRUE(RunningHelper::waitUntil([&] { return !helper.runningDaemons().empty(); }));
    ASSERT_EQ(helper.run(helper.daemon(), {"up"}), "spawned");
    EXPECT_FALSE(isAlive(stubborn)) << "the stubborn daemon was not killed and reaped";
    EXPECT_THAT(helper.systemLog(),
                Contains("tarnwickd (pid: " + std::to_string(stubborn) +
                         ") still running 200 ms after SIGTERM; sending SIGKILL"));
}

}  // namespace
}  // namespace tw
