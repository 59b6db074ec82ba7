// The command path of the real helper: the bundle's CLI (or the daemon without "up") runs as a
// child whose merged output becomes the reply.

#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/helper/RunningHelper.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// Children of `parent` that have exited and not been reaped.
std::vector<pid_t> zombieChildren(pid_t parent) {
    std::vector<pid_t> zombies;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = RunningHelper::contents(entry.path().string() + "/stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 4 > stat.size()) continue;
        const char state = stat[close + 2];
        const pid_t ppid = static_cast<pid_t>(std::atol(stat.c_str() + close + 4));
        if (state == 'Z' && ppid == parent) zombies.push_back(std::stoi(name));
    }
    return zombies;
}

class HelperCommandTest : public ::testing::Test {
protected:
    void SetUp() override { helper.start(); }

    RunningHelper helper;
};

TEST_F(HelperCommandTest, RunsTheDaemonWithHelpAndRepliesItsOutput) {
    EXPECT_EQ(helper.run(helper.daemon(), {"--help"}), "tarnwickd help: --help\n");
    EXPECT_THAT(helper.spawnedDaemons(), IsEmpty());
}

TEST_F(HelperCommandTest, RunsTheDaemonWithoutArgumentsAsACommand) {
    EXPECT_EQ(helper.run(helper.daemon(), {}), "tarnwickd help: \n");
    EXPECT_THAT(helper.spawnedDaemons(), IsEmpty());
}

TEST_F(HelperCommandTest, RunsTheCliWithUpAsACommandNotAsTheDaemon) {
    EXPECT_EQ(helper.run(helper.cli(), {"up"}), "tarnwick up\n");
    EXPECT_THAT(helper.spawnedDaemons(), IsEmpty());
    EXPECT_THAT(helper.runningDaemons(), IsEmpty());
}

TEST_F(HelperCommandTest, LogsEachCallWithItsPathAndArguments) {
    helper.run(helper.cli(), {"down", "--force"});
    helper.run(helper.cli(), {});
    EXPECT_THAT(helper.systemLog(),
                Contains("call tarnwick helper tool: " + helper.cli() + " down --force"));
    EXPECT_THAT(helper.systemLog(), Contains("call tarnwick helper tool: " + helper.cli() + " "));
}

TEST_F(HelperCommandTest, RepliesEmptyTextForACommandWithoutOutput) {
    EXPECT_EQ(helper.run(helper.cli(), {"empty"}), "");
    EXPECT_THAT(helper.systemLog(), Not(Contains("Binary executed successfully")));
}

TEST_F(HelperCommandTest, MergesStandardOutputAndErrorInArrivalOrder) {
    EXPECT_EQ(helper.run(helper.cli(), {"merged"}), "out\nerr\nout2\n");
}

TEST_F(HelperCommandTest, GivesTheChildTheFixedPathAndNoDaemonFlag) {
    EXPECT_EQ(helper.run(helper.cli(), {"env"}),
              "PATH=/usr/bin:/bin:/usr/sbin:/sbin:/usr/local/"
              "bin\nTW_SKIP_RUNNING_CHECK=unset\nLISTEN_FDS=unset\n");
}

TEST_F(HelperCommandTest, RepliesTheOutputOfAFailingCommandWhenItIsText) {
    EXPECT_EQ(helper.run(helper.cli(), {"text-then-fail"}), "text before failing\n");
}

TEST_F(HelperCommandTest, RepliesSuccessForOutputThatIsNotUtf8AndStatusZero) {
    EXPECT_EQ(helper.run(helper.cli(), {"latin1", "0"}), "Binary executed successfully");
    EXPECT_THAT(helper.systemLog(), Contains("Binary executed successfully"));
}

TEST_F(HelperCommandTest, RepliesTheStatusForOutputThatIsNotUtf8AndAFailure) {
    EXPECT_EQ(helper.run(helper.cli(), {"latin1", "1"}), "Binary execution failed with status: 1");
    EXPECT_EQ(helper.run(helper.cli(), {"latin1", "42"}),
              "Binary execution failed with status: 42");
    EXPECT_THAT(helper.systemLog(), Contains("Binary execution failed with status: 1"));
}

// The reply must stay bounded; the output is drained so that the child can finish.
TEST_F(HelperCommandTest, TreatsOutputTooLargeForAReplyLikeOutputThatIsNotText) {
    EXPECT_EQ(helper.run(helper.cli(), {"big"}), "Binary executed successfully");
}

TEST_F(HelperCommandTest, ReportsAnEmptyPathAsAnExecutionError) {
    EXPECT_EQ(helper.run("", {"--help"}),
              "Error executing binary: Error Domain=POSIX Code=2 \"No such file or directory\" "
              "path=");
    EXPECT_THAT(helper.systemLog(), Contains("Error executing binary: No such file or directory"));
}

TEST_F(HelperCommandTest, ReportsACliThatCannotBeExecutedWithTheSystemsError) {
    ASSERT_EQ(::chmod(helper.cli().c_str(), 0644), 0);
    EXPECT_EQ(helper.run(helper.cli(), {"down"}),
              "Error executing binary: Error Domain=POSIX Code=13 \"Permission denied\" path=" +
                  helper.cli());
    EXPECT_THAT(helper.systemLog(), Contains("Error executing binary: Permission denied"));
}

TEST_F(HelperCommandTest, LeavesNoZombieBehindAfterCommands) {
    for (int run = 0; run < 3; ++run) helper.run(helper.cli(), {"down"});
    helper.run(helper.cli(), {"latin1", "0"});
    EXPECT_TRUE(RunningHelper::waitUntil([&] { return zombieChildren(helper.pid()).empty(); }));
}

// --- what may run ---

TEST(HelperInstallTest, FindsTheBundleFromWhereItIsInstalled) {
    RunningHelper helper;
    helper.setInstalled();
    helper.start();
    EXPECT_EQ(helper.run(helper.cli(), {"status"}), "tarnwick status\n");
}

TEST_F(HelperCommandTest, RefusesAProgramOutsideTheBundleAndRunsNothing) {
    const std::string stranger = helper.dir().file("stranger");
    std::ofstream(stranger) << "#!/bin/sh\n: > " << helper.touched() << "\n";
    ASSERT_EQ(::chmod(stranger.c_str(), 0755), 0);
    EXPECT_EQ(helper.run(stranger, {}),
              "Error executing binary: Error Domain=POSIX Code=1 \"Operation not permitted\" "
              "path=" +
                  stranger);
    EXPECT_EQ(helper.run("/bin/sh", {"-c", ": > " + helper.touched()}),
              "Error executing binary: Error Domain=POSIX Code=1 \"Operation not permitted\" "
              "path=/bin/sh");
    EXPECT_THAT(helper.systemLog(), Contains("Error executing binary: Operation not permitted"));
    EXPECT_FALSE(std::filesystem::exists(helper.touched()));
}

TEST_F(HelperCommandTest, RefusesADaemonStartOutsideTheBundleBeforeTouchingAnything) {
    const std::string lookalike = helper.dir().file("tarnwickd");
    std::filesystem::copy_file(helper.daemon(), lookalike);
    std::ofstream(helper.daemonSocket()) << "";
    EXPECT_THAT(helper.run(lookalike, {"up"}), StartsWith("Error executing binary: "));
    EXPECT_TRUE(std::filesystem::exists(helper.daemonSocket()));
    EXPECT_THAT(helper.spawnedDaemons(), IsEmpty());
}

TEST_F(HelperCommandTest, AcceptsASymlinkThatResolvesToTheBundlesCli) {
    const std::string link = helper.dir().file("cli-link");
    ASSERT_EQ(::symlink(helper.cli().c_str(), link.c_str()), 0);
    EXPECT_EQ(helper.run(link, {"status"}), "tarnwick status\n");
}

TEST_F(HelperCommandTest, RefusesASymlinkNamedLikeTheCliThatLeadsElsewhere) {
    const std::string other = helper.dir().file("other");
    std::filesystem::create_directory(other);
    const std::string copy = other + "/tarnwick";
    std::filesystem::copy_file(helper.cli(), copy);
    const std::string link = helper.dir().file("tarnwick");
    ASSERT_EQ(::symlink(copy.c_str(), link.c_str()), 0);
    EXPECT_THAT(helper.run(link, {"touch"}),
                StartsWith("Error executing binary: Error Domain=POSIX Code=1 "));
    EXPECT_FALSE(std::filesystem::exists(helper.touched()));
}

// A command whose output never closes would hold its connection and thread for good.
TEST(HelperCommandTimeout, KillsACommandThatOutlivesItsTimeAndSaysSo) {
    RunningHelper helper;
    helper.start({"--command-timeout", "0.5"});
    EXPECT_EQ(helper.run(helper.cli(), {"hang"}),
              "Binary execution timed out after 500 ms and was killed");
    EXPECT_EQ(helper.run(helper.cli(), {"after"}), "tarnwick after\n");
}

}  // namespace
}  // namespace tw
