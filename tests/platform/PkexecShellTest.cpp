#include "app/platform/linux/PkexecShell.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "tests/platform/ShellResult.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

TEST(APkexecShell, QuotesAnyTextSoThatTheShellGivesItBackUnchanged) {
    for (const std::string text : {"plain", "it's", "a b", "$HOME `id` \\n", "'''", "new\nline", ""}) {
        EXPECT_EQ(shell("printf %s " + PkexecShell::quoted(text)).output, text) << text;
    }
}

// Real time: the script runs in a process of its own.
bool pollFor(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return done();
}

// pkexec stood in for by a script that runs its arguments, or exits as told.
class APkexecShellRun : public ::testing::Test {
protected:
    APkexecShellRun() {
        std::ofstream(pkexec_) << "#!/bin/sh\n[ -n \"$EXIT\" ] && { echo refused >&2; exit $EXIT; }\nexec \"$@\"\n";
        std::filesystem::permissions(pkexec_, std::filesystem::perms::owner_all);
    }

    PkexecShell::Result runAndWait(const std::string& script) {
        PkexecShell shell(pkexec_.string());
        std::mutex mutex;
        std::condition_variable done;
        std::optional<PkexecShell::Result> result;
        EXPECT_TRUE(shell.run(script, [&](PkexecShell::Result r) {
            std::lock_guard lock(mutex);
            result = std::move(r);
            done.notify_all();
        }));
        std::unique_lock lock(mutex);
        done.wait_for(lock, std::chrono::seconds(20), [&] { return result.has_value(); });
        return result.value_or(PkexecShell::Result{});
    }

    TempDir dir_;
    std::filesystem::path pkexec_ = dir_.path() / "pkexec";
};

TEST_F(APkexecShellRun, RunsTheScriptThroughPkexec) {
    const auto result = runAndWait("echo done > " + dir_.file("ran"));
    EXPECT_EQ(result.outcome, PkexecShell::Outcome::done);
    EXPECT_TRUE(std::filesystem::exists(dir_.file("ran")));
}

TEST_F(APkexecShellRun, TellsADismissedPromptFromAFailure) {
    {
        ScopedEnv exit("EXIT", "126");
        EXPECT_EQ(runAndWait("true").outcome, PkexecShell::Outcome::dismissed);
    }
    {
        // Not authorised, or no authentication agent: a failure the user must be told about.
        ScopedEnv exit("EXIT", "127");
        const auto refused = runAndWait("true");
        EXPECT_EQ(refused.outcome, PkexecShell::Outcome::failed);
        EXPECT_EQ(refused.exitCode, 127);
    }
    const auto failed = runAndWait("echo oops >&2; exit 4");
    EXPECT_EQ(failed.outcome, PkexecShell::Outcome::failed);
    EXPECT_EQ(failed.exitCode, 4);
    EXPECT_EQ(failed.errorOutput, "oops\n");
}

TEST_F(APkexecShellRun, CannotRunWithoutPkexec) {
    PkexecShell shell(dir_.file("none"));
    EXPECT_FALSE(shell.run("true", [](auto) {}));
}

TEST_F(APkexecShellRun, AsTheRootShellItCompletesOnceForEveryCommandLine) {
    using Outcome = std::expected<void, PrivilegedShell::Failure>;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Outcome> outcomes;
    auto collect = [&](Outcome outcome) {
        std::lock_guard lock(mutex);
        outcomes.push_back(std::move(outcome));
        changed.notify_all();
    };
    auto waitFor = [&](std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return outcomes.size() >= count; });
    };
    {
        PkexecShell shell(pkexec_.string());
        shell.runAsRoot("sleep 0.3", collect);
        // One prompt at a time: the second is refused at once rather than dropped.
        shell.runAsRoot("true", collect);
        ASSERT_TRUE(waitFor(2));
        ScopedEnv exit("EXIT", "126");
        shell.runAsRoot("true", collect);
        ASSERT_TRUE(waitFor(3));
    }
    PkexecShell(dir_.file("none")).runAsRoot("true", collect);
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_FALSE(outcomes[0].has_value() || outcomes[0].error().dismissed);
    EXPECT_EQ(outcomes[0].error().description, "Another administrator command is still running");
    EXPECT_TRUE(outcomes[1].has_value());
    EXPECT_TRUE(!outcomes[2].has_value() && outcomes[2].error().dismissed);
    EXPECT_EQ(outcomes[3].error().description, "pkexec is not installed");
}

TEST_F(APkexecShellRun, EndsAScriptNobodyAnswersWhenItGoesAwayWithoutWaitingForIt) {
    auto called = std::make_shared<std::atomic<bool>>(false);
    const auto pidFile = dir_.file("pid");
    {
        PkexecShell shell(pkexec_.string());
        ASSERT_TRUE(shell.run("echo $$ > " + pidFile + ".part && mv " + pidFile + ".part " + pidFile +
                                  " && exec sleep 600",
                              [called](auto) { *called = true; }));
        ASSERT_TRUE(pollFor([&] { return std::filesystem::exists(pidFile); }));
    }
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(pollFor([&] { return ::kill(pid, 0) != 0; })) << "the script still runs";
    EXPECT_FALSE(*called);
}

}  // namespace
}  // namespace tw
