#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "helper/BundleExecutables.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using Kind = BundleExecutables::Kind;

class BundleExecutablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(resources);
        std::ofstream(cli) << "#!/bin/sh\n";
        std::ofstream(daemon) << "#!/bin/sh\n";
    }

    TempDir dir;
    const std::filesystem::path resources = dir.path() / "lib" / "tarnwick" / "Resources";
    const std::string cli = (resources / "tarnwick").string();
    const std::string daemon = (resources / "tarnwickd").string();
    const BundleExecutables executables{resources};
};

TEST_F(BundleExecutablesTest, FindsTheResourcesFromTheHelpersInstallLocation) {
    EXPECT_EQ(BundleExecutables::resourcesFor("/usr/libexec/tarnwick/tarnwick-helper"),
              "/usr/lib/tarnwick/Resources");
    EXPECT_EQ(BundleExecutables::resourcesFor("/opt/tw/libexec/tarnwick/tarnwick-helper"),
              "/opt/tw/lib/tarnwick/Resources");
}

TEST_F(BundleExecutablesTest, KnowsTheBundlesCliAndDaemon) {
    const auto cliMatch = executables.resolve(cli);
    ASSERT_TRUE(cliMatch.has_value());
    EXPECT_EQ(cliMatch->kind, Kind::cli);
    EXPECT_EQ(cliMatch->executable, cli);
    const auto daemonMatch = executables.resolve(daemon);
    ASSERT_TRUE(daemonMatch.has_value());
    EXPECT_EQ(daemonMatch->kind, Kind::daemon);
}

TEST_F(BundleExecutablesTest, RefusesAnyOtherProgramWithEperm) {
    EXPECT_EQ(executables.resolve("/bin/sh").error(), EPERM);
    const std::string lookalike = dir.file("tarnwickd");
    std::ofstream(lookalike) << "#!/bin/sh\n";
    EXPECT_EQ(executables.resolve(lookalike).error(), EPERM);
}

TEST_F(BundleExecutablesTest, RefusesTheResourcesFolderItself) {
    EXPECT_EQ(executables.resolve(resources.string()).error(), EPERM);
}

TEST_F(BundleExecutablesTest, ReportsAMissingOrEmptyPathAsMissing) {
    EXPECT_EQ(executables.resolve(dir.file("missing")).error(), ENOENT);
    EXPECT_EQ(executables.resolve("").error(), ENOENT);
}

TEST_F(BundleExecutablesTest, ResolvesSymlinksAndDotsToTheFileThatWouldRun) {
    const std::string link = dir.file("cli-link");
    ASSERT_EQ(::symlink(cli.c_str(), link.c_str()), 0);
    const auto viaLink = executables.resolve(link);
    ASSERT_TRUE(viaLink.has_value());
    EXPECT_EQ(viaLink->kind, Kind::cli);
    EXPECT_EQ(viaLink->executable, cli);
    const auto viaDots =
        executables.resolve((resources / ".." / "Resources" / "tarnwickd").string());
    ASSERT_TRUE(viaDots.has_value());
    EXPECT_EQ(viaDots->kind, Kind::daemon);
}

// The kind follows the file, not the name the caller used for it.
TEST_F(BundleExecutablesTest, TellsTheKindByTheTargetNotByTheLinksName) {
    const std::string misnamed = dir.file("tarnwick");
    ASSERT_EQ(::symlink(daemon.c_str(), misnamed.c_str()), 0);
    EXPECT_EQ(executables.resolve(misnamed)->kind, Kind::daemon);
}

TEST_F(BundleExecutablesTest, RefusesALinkInsideResourcesThatLeadsOut) {
    const std::string elsewhere = dir.file("elsewhere");
    std::ofstream(elsewhere) << "#!/bin/sh\n";
    const std::string link = (resources / "extra").string();
    ASSERT_EQ(::symlink(elsewhere.c_str(), link.c_str()), 0);
    EXPECT_EQ(executables.resolve(link).error(), EPERM);
}

TEST_F(BundleExecutablesTest, FollowsABundleWhoseResourcesAreThemselvesLinks) {
    const std::string real = dir.file("tarnwickd-1.2");
    std::ofstream(real) << "#!/bin/sh\n";
    std::filesystem::remove(daemon);
    ASSERT_EQ(::symlink(real.c_str(), daemon.c_str()), 0);
    const auto match = executables.resolve(daemon);
    ASSERT_TRUE(match.has_value());
    EXPECT_EQ(match->kind, Kind::daemon);
    EXPECT_EQ(match->executable, real);
}

TEST_F(BundleExecutablesTest, RefusesEverythingWhenTheBundleHasNoExecutables) {
    std::filesystem::remove(cli);
    EXPECT_EQ(executables.resolve(cli).error(), ENOENT);
    EXPECT_EQ(BundleExecutables(dir.path() / "none").resolve(daemon).error(), EPERM);
}

}  // namespace
}  // namespace tw
