#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "base/UniqueFd.h"
#include "helper/ChildProcess.h"
#include "helper/PosixError.h"

namespace tw {
namespace {

using namespace std::chrono_literals;

ChildEnvironment environmentWith(std::string_view name, std::string_view value) {
    ChildEnvironment environment = ChildEnvironment::ofThisProcess();
    environment.set(name, value);
    return environment;
}

// Runs a shell command with its output in a pipe; the output and the exit status.
std::pair<std::string, int> shell(const std::string& command, const ChildEnvironment& environment,
                                  bool ignoreSigpipeInParent = false) {
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    struct sigaction previous {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    if (ignoreSigpipeInParent) ::sigaction(SIGPIPE, &ignore, &previous);
    auto child =
        ChildProcess::launch("/bin/sh", {"-c", command}, environment, {.output = writing.get()});
    if (ignoreSigpipeInParent) ::sigaction(SIGPIPE, &previous, nullptr);
    writing.reset();
    EXPECT_TRUE(child.has_value());
    std::string output;
    char buffer[256];
    for (ssize_t count; (count = ::read(reading.get(), buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(count));
    }
    return {output, child ? child->exitStatus() : -2};
}

TEST(ChildEnvironmentTest, ReplacesAnEntryInsteadOfAddingASecondOne) {
    ChildEnvironment environment = environmentWith("TW_TEST_ENTRY", "old");
    environment.set("TW_TEST_ENTRY", "new");
    environment.set("TW_TEST", "prefix-only");
    std::vector<std::string> matching;
    for (const auto& entry : environment.entries()) {
        if (entry.starts_with("TW_TEST")) matching.push_back(entry);
    }
    EXPECT_EQ(matching, (std::vector<std::string>{"TW_TEST_ENTRY=new", "TW_TEST=prefix-only"}));
}

TEST(ChildProcessTest, MergesOutputAndErrorAndReportsTheExitCode) {
    const auto [output, status] = shell("echo out; echo err >&2; echo \"$TW_TEST_ENTRY\"; exit 3",
                                        environmentWith("TW_TEST_ENTRY", "given"));
    EXPECT_EQ(output, "out\nerr\ngiven\n");
    EXPECT_EQ(status, 3);
}

TEST(ChildProcessTest, ReportsTheSignalThatEndedAChild) {
    EXPECT_EQ(shell("kill -KILL $$", ChildEnvironment::ofThisProcess()).second, SIGKILL);
}

TEST(ChildProcessTest, StartsChildrenWithDefaultSignalDispositions) {
    const auto [output, status] =
        shell("exec grep SigIgn /proc/self/status", ChildEnvironment::ofThisProcess(), true);
    ASSERT_TRUE(output.starts_with("SigIgn:\t")) << output;
    const unsigned long long ignored = std::stoull(output.substr(8), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << output;
}

TEST(ChildProcessTest, ReportsAFailedExecAsTheLaunchError) {
    const auto child = ChildProcess::launch("/nonexistent/tw-tool", {}, ChildEnvironment{}, {});
    ASSERT_FALSE(child.has_value());
    EXPECT_EQ(child.error(), ENOENT);
}

TEST(ChildProcessTest, StopsAChildThatIgnoresTerminationWithKill) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    auto child =
        ChildProcess::launch("/bin/sh", {"-c", "trap '' TERM; echo ready; exec sleep 1000"},
                             ChildEnvironment::ofThisProcess(), {.output = writing.get()});
    writing.reset();
    ASSERT_TRUE(child.has_value());
    char ready[6];
    ASSERT_EQ(::read(reading.get(), ready, sizeof ready), 6);  // the trap is in place
    EXPECT_TRUE(child->isRunning());
    child->terminate();
    EXPECT_FALSE(child->waitForExit(100ms));
    child->kill();
    EXPECT_FALSE(child->isRunning());
    EXPECT_EQ(child->exitStatus(), SIGKILL);
    EXPECT_EQ(::kill(child->pid(), 0), -1) << "the child was not reaped";
}

TEST(PosixErrorTest, RendersDomainCodeTextAndPath) {
    const PosixError error(ENOENT, "/x");
    EXPECT_EQ(error.localizedDescription(), "No such file or directory");
    EXPECT_EQ(error.fullDescription(),
              "Error Domain=POSIX Code=2 \"No such file or directory\" path=/x");
    EXPECT_EQ(PosixError(EPERM, "").fullDescription(),
              "Error Domain=POSIX Code=1 \"Operation not permitted\" path=");
}

}  // namespace
}  // namespace tw
