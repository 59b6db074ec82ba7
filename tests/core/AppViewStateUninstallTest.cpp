#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/core/AppViewState.h"
#include "app/core/LoginItem.h"
#include "app/core/UninstallCommands.h"
#include "app/tunnel/VPNTunnelService.h"
#include "tests/support/AppStateFakes.h"
#include "tests/support/FakeLoginItemService.h"
#include "tests/support/FakePrivilegedShell.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr auto kProviderBundleIdentifier = "com.tarnwick.desktop.PacketTunnel";

TEST(UninstallCommandsTest, RunsTheFourteenCommandsInOrderWithTheirTolerance) {
    EXPECT_EQ(UninstallCommands::commandLine(false),
              "pkill -x tarnwickd 2>/dev/null || true; "
              "pkill -x tarnwick-helper 2>/dev/null || true; "
              "pkill -x tarnwick-packet 2>/dev/null || true; "
              "systemctl disable --now tarnwick-helper.socket 2>/dev/null || true; "
              "systemctl stop tarnwick-helper.service 2>/dev/null || true; "
              "rm -rf /var/lib/tarnwick; "
              "rm -rf /etc/tarnwick; "
              "rm -rf /var/log/tarnwickd; "
              "rm -f /var/run/tarnwickd.socket; "
              "rm -f /tmp/tarnwickd.log; "
              "rm -f /etc/NetworkManager/VPN/com.tarnwick.desktop.PacketTunnel.name; "
              "rm -rf /etc/dbus-1/system.d/com.tarnwick.desktop.PacketTunnel.conf "
              "/usr/libexec/tarnwick/packettunnel; "
              "nmcli connection delete id Tarnwick 2>/dev/null || true; "
              "nmcli connection delete id 'Tarnwick Debug' 2>/dev/null || true");
    // The package's own files stay for the package manager; only the provider program differs.
    const auto packaged = UninstallCommands::list(true);
    ASSERT_EQ(packaged.size(), 14u);
    EXPECT_EQ(packaged[11], "rm -f /etc/dbus-1/system.d/com.tarnwick.desktop.PacketTunnel.conf");
    for (const auto& command : packaged) {
        EXPECT_EQ(command.find("killall"), std::string::npos);
        EXPECT_EQ(command.find("/usr/lib/"), std::string::npos) << command;
    }
}

class AppViewStateUninstallTest : public ::testing::Test, protected AppStateFakes {
protected:
    AppViewStateUninstallTest() {
        std::ofstream(bundleDir_.file("Info.json")) << R"({"CFBundleIdentifier":"com.tarnwick.desktop"})";
        std::filesystem::create_directories(supportFolder());
        std::ofstream(supportFolder() / "app.log") << "line\n";
        vpnPlatform_->addSaved(kProviderBundleIdentifier);
        tunnel_ = VPNTunnelService::create(main_, log_.logger(), vpnPlatform_, Bundle(bundleDir_.path()));
        loginService_->currentStatus = LoginItemStatus::enabled;
        loginItem_ = std::make_shared<LoginItem>(
            std::make_shared<Preferences>(dataDir_.file("preferences.json")), loginService_, log_.logger());
        makeModel(false);
    }

    void makeModel(bool packageInstalled) {
        AppViewState::Peers peers{main_, log_.logger(), api_, bus_, tunnel_, [] { return true; }, {}, {}};
        peers.privilegedShell = shell_;
        peers.loginItem = loginItem_;
        peers.applicationSupportFolder = supportFolder().string();
        peers.packageInstalled = packageInstalled;
        peers.terminate = [this] { onTerminate(); };
        model_ = AppViewState::create(peers);
        settle();
    }

    std::filesystem::path supportFolder() const { return dataDir_.path() / "Tarnwick"; }


    std::vector<std::string> stateLines() const {
        std::vector<std::string> lines;
        for (const auto& record : log_.records()) {
            if (record.starts_with("[State] ")) lines.push_back(record.substr(8));
        }
        return lines;
    }

    // What the application looks like at the moment it is asked to quit.
    void onTerminate() {
        ++terminations_;
        profilesLeftAtQuit_ = vpnPlatform_->saved().size();
        folderLeftAtQuit_ = std::filesystem::exists(supportFolder());
    }

    TempDir dataDir_;
    std::shared_ptr<FakePrivilegedShell> shell_ = std::make_shared<FakePrivilegedShell>();
    std::shared_ptr<FakeLoginItemService> loginService_ = std::make_shared<FakeLoginItemService>();
    std::shared_ptr<VPNTunnelService> tunnel_;
    std::shared_ptr<LoginItem> loginItem_;
    std::shared_ptr<AppViewState> model_;
    int terminations_ = 0;
    std::size_t profilesLeftAtQuit_ = 99;
    bool folderLeftAtQuit_ = true;
};

TEST_F(AppViewStateUninstallTest, ADismissedPromptChangesNothingAndTheAppKeepsRunning) {
    model_->uninstall();
    settle();
    ASSERT_THAT(shell_->commandLines, ElementsAre(UninstallCommands::commandLine(false)));
    // The answer comes from the prompt's thread; nothing happens until the main queue runs it.
    shell_->answer(0, std::unexpected(PrivilegedShell::Failure{true, "Authorisation dismissed"}));
    EXPECT_THAT(stateLines(), ElementsAre("uninstall called"));
    settle();

    EXPECT_THAT(stateLines(), ElementsAre("uninstall called", "Privileged cleanup error: Authorisation dismissed",
                                          "Uninstall cancelled or failed, no changes made"));
    EXPECT_EQ(loginService_->unregisterCalls, 0);
    EXPECT_EQ(vpnPlatform_->saved().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(supportFolder()));
    EXPECT_EQ(bus_->stops, 0);
    EXPECT_EQ(terminations_, 0);
}

TEST_F(AppViewStateUninstallTest, ACompletedCleanupRemovesTheProfileThenTheLogFolderThenQuits) {
    model_->uninstall();
    shell_->answer(0, {});
    settle();

    EXPECT_EQ(terminations_, 1);
    EXPECT_EQ(profilesLeftAtQuit_, 0u);
    EXPECT_FALSE(folderLeftAtQuit_);
    EXPECT_EQ(loginService_->unregisterCalls, 1);
    EXPECT_EQ(bus_->stops, 1);
    // The daemon's answer is logged from its own thread, so only its presence is certain.
    auto lines = stateLines();
    EXPECT_EQ(std::erase(lines, "daemon WantRunning=false"), 1u);
    EXPECT_THAT(lines, ElementsAre("uninstall called", "Privileged cleanup completed", "disconnect",
                                   "Uninstall completed"));
}

TEST_F(AppViewStateUninstallTest, OnAPackageInstallTheCompletionSaysThePackageStays) {
    makeModel(true);
    model_->uninstall();
    shell_->answer(0, {});
    settle();
    EXPECT_EQ(shell_->commandLines.at(0), UninstallCommands::commandLine(true));
    EXPECT_THAT(stateLines(), Contains("Uninstall completed; the tarnwick package stays installed for "
                                       "the package manager to remove"));
    EXPECT_EQ(terminations_, 1);
}

TEST_F(AppViewStateUninstallTest, AModelGoneBeforeTheCleanupEndsDoesNothingMore) {
    model_->uninstall();
    model_.reset();
    shell_->answer(0, {});
    settle();
    EXPECT_EQ(terminations_, 0);
    EXPECT_TRUE(std::filesystem::exists(supportFolder()));
    EXPECT_THAT(stateLines(), ElementsAre("uninstall called"));
}

}  // namespace
}  // namespace tw
