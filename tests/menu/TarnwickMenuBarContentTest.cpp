#include "app/menu/TarnwickMenuBarContent.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/core/AppViewState.h"
#include "app/core/NotificationHelper.h"
#include "app/core/UpdaterViewModel.h"
#include "app/tunnel/SystemExtensionService.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/NotificationCenter.h"
#include "base/WorkerPool.h"
#include "tests/support/AppStateFakes.h"
#include "tests/support/FakeClipboard.h"
#include "tests/support/FakeFolderPicker.h"
#include "tests/support/FakeHelperRegistration.h"
#include "tests/support/FakeNotificationService.h"
#include "tests/support/FakeSystemExtensionPlatform.h"
#include "tests/support/FakeUpdaterService.h"
#include "tests/support/FakeUrlOpener.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using Id = MenuRowId;
using Status = VPNConnectionStatus;

constexpr auto kApprovalGuide =
    "Click here → Administrator authentication\nでネットワーク拡張を許可してください";

// The rows as the user reads them; a divider reads "—".
std::vector<std::string> texts(const std::vector<MenuRow>& rows) {
    std::vector<std::string> result;
    for (const auto& row : rows) result.push_back(row.kind == MenuRowKind::divider ? "—" : row.text);
    return result;
}

const MenuRow* find(const std::vector<MenuRow>& rows, Id id, const std::string& profileId = {}) {
    for (const auto& row : rows) {
        if (row.id == id && row.profileId == profileId) return &row;
    }
    return nullptr;
}

ProfileInfo profile(std::string id, bool current, std::optional<std::string> email = {}) {
    return ProfileInfo{id, id + "-name", std::nullopt, std::move(email), current};
}

class TarnwickMenuBarContentTest : public ::testing::Test, protected AppStateFakes {
protected:
    TarnwickMenuBarContentTest() {
        writeInfo(R"("TWHomePageURL":"https://home.example/","TWDocsPageURL":"https://docs.example/")");
        tunnel_ = VPNTunnelService::create(main_, log_.logger(), vpnPlatform_, Bundle(bundleDir_.path()));
        app_ = AppViewState::create({main_, log_.logger(), api_, bus_, tunnel_, [] { return true; },
                                     [](const std::string&, const std::string&) {},
                                     [](const std::string&) {}});
        extensionPlatform_->targets = {"install", "network"};
        extensionPlatform_->openableTargets = {"install"};
        extension_ = SystemExtensionService::create(main_, log_.logger(), extensionPlatform_,
                                                    center_, Bundle(bundleDir_.path()));
        notifications_ = std::make_shared<NotificationHelper>(main_, notificationService_, log_.logger());
        settle();
    }

    void writeInfo(const std::string& keys) {
        std::ofstream(bundleDir_.file("Info.json"))
            << R"({"CFBundleIdentifier":"com.tarnwick.desktop",)" << keys << "}";
    }

    TarnwickMenuBarContent& menu() {
        if (!menu_) {
            menu_ = TarnwickMenuBarContent::create(
                {main_, log_.logger(), app_, extension_, updater_, api_, notifications_, helper_,
                 clipboard_, opener_, picker_, workers_, Bundle(bundleDir_.path()),
                 [this] { ++quits_; }, [this] { ++uninstalls_; }, daemonLog_});
        }
        return *menu_;
    }
    const MenuPanel& panel() { return menu().panel(); }
    const MenuRow& row(Id id) {
        const auto* found = find(panel().rows, id);
        if (!found) throw std::runtime_error("row not shown");
        return *found;
    }
    void activate(Id id, const std::string& profileId = {}) {
        menu().activate(id, profileId);
        settle();
    }


    void logIn(std::string hostName = "laptop.example.", std::string ips = "100.64.0.1,fd42::1") {
        LoginViewState login;
        login.isLoggedIn = true;
        login.email = "ann@example.com";
        login.userName = "Ann";
        login.hostName = std::move(hostName);
        login.tarnwickIPs = std::move(ips);
        app_->login().set(login);
    }
    void approveExtension() {
        extension_->activate();
        settle();
        extensionPlatform_->finish(extensionPlatform_->activations().size() - 1,
                                   SystemExtensionRequestResult::completed);
        settle();
    }
    // The daemon's profile list, as every refresh from now on finds it.
    void daemonProfiles(std::vector<ProfileInfo> profiles) {
        api_->setStandingProfiles(ProfilesResponse{"", std::move(profiles)});
        app_->refreshProfiles();
        settle();
    }
    std::size_t stateCount(const std::string& line) const { return log_.count("[State] " + line); }

    std::shared_ptr<FakeSystemExtensionPlatform> extensionPlatform_ =
        std::make_shared<FakeSystemExtensionPlatform>();
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    std::shared_ptr<FakeNotificationService> notificationService_ =
        std::make_shared<FakeNotificationService>();
    std::shared_ptr<FakeUpdaterService> updaterService_ = std::make_shared<FakeUpdaterService>();
    std::shared_ptr<UpdaterViewModel> updater_ = std::make_shared<UpdaterViewModel>(updaterService_);
    std::shared_ptr<FakeHelperRegistration> helper_ = std::make_shared<FakeHelperRegistration>();
    std::shared_ptr<FakeClipboard> clipboard_ = std::make_shared<FakeClipboard>();
    std::shared_ptr<FakeUrlOpener> opener_ = std::make_shared<FakeUrlOpener>();
    std::shared_ptr<FakeFolderPicker> picker_ = std::make_shared<FakeFolderPicker>();
    std::shared_ptr<WorkerPool> workers_ = std::make_shared<WorkerPool>(1);
    TempDir files_;
    std::string daemonLog_ = files_.file("client.log");
    std::shared_ptr<VPNTunnelService> tunnel_;
    std::shared_ptr<AppViewState> app_;
    std::shared_ptr<SystemExtensionService> extension_;
    std::shared_ptr<NotificationHelper> notifications_;
    std::shared_ptr<TarnwickMenuBarContent> menu_;
    int quits_ = 0;
    int uninstalls_ = 0;
};

TEST_F(TarnwickMenuBarContentTest, HelperAwaitingApprovalAsksForItOnceAndShowsWhyItFailed) {
    app_->helperNeedsApproval().set(true);
    EXPECT_THAT(texts(panel().rows), ElementsAre("Enable Helper (Login Items)", "—", "Quit Tarnwick"));
    EXPECT_EQ(row(Id::enableHelper).margins, (MenuInsets{.top = 8, .bottom = 4}));

    helper_->holdAnswers = true;
    helper_->approveResult = std::unexpected(
        HelperRegistrationError{HelperRegistrationError::Code::notAuthorized, "dismissed"});
    activate(Id::enableHelper);
    activate(Id::enableHelper);  // the prompt is still up
    EXPECT_THAT(helper_->calls(), ElementsAre(FakeHelperRegistration::Call::approve));

    helper_->answerHeld();
    settle();
    const auto reason = helper_->approveResult.error().description();
    EXPECT_THAT(texts(panel().rows),
                ElementsAre("Enable Helper (Login Items)", reason, "—", "Quit Tarnwick"));
    EXPECT_EQ(log_.count("[UI] Helper approval failed: " + reason), 1u);

    activate(Id::quit);
    EXPECT_EQ(quits_, 1);
}

TEST_F(TarnwickMenuBarContentTest, LoggedOutOffersAccountsOnlyWhenThereAreTwoAndLogsInToTheChosenOne) {
    daemonProfiles({profile("a", true)});
    EXPECT_THAT(texts(panel().rows), ElementsAre("Login Tarnwick", "—", "Quit Tarnwick"));

    daemonProfiles({profile("a", true), profile("b", false, "bob@example.com")});
    EXPECT_THAT(texts(panel().rows),
                ElementsAre("Login Tarnwick", "—", "Switch Account", "—", "Quit Tarnwick"));
    EXPECT_EQ(row(Id::switchAccount).trailingSymbol, MenuSymbol::chevronRight);

    const auto refreshes = stateCount("refreshProfiles called");
    activate(Id::switchAccount);
    EXPECT_EQ(stateCount("refreshProfiles called"), refreshes + 1);
    ASSERT_TRUE(panel().isSwitchAccountPopoverPresented);
    const auto& list = panel().switchAccountPopover;
    EXPECT_THAT(texts(list), ElementsAre("a-name", "bob@example.com", "—", "Add Account"));
    EXPECT_EQ(find(list, Id::profile, "a")->leadingSymbol, MenuSymbol::checkmark);
    EXPECT_FALSE(find(list, Id::profile, "a")->enabled);
    EXPECT_EQ(find(list, Id::profile, "b")->leadingSymbol, MenuSymbol::none);
    EXPECT_EQ(list.front().margins.top, 12);

    activate(Id::profile, "a");  // already the current one
    EXPECT_EQ(stateCount("switchProfileAndLogin to a"), 0u);
    EXPECT_TRUE(panel().isSwitchAccountPopoverPresented);

    activate(Id::profile, "b");
    EXPECT_EQ(stateCount("switchProfileAndLogin to b"), 1u);
    EXPECT_FALSE(panel().isSwitchAccountPopoverPresented);

    activate(Id::switchAccount);
    activate(Id::addAccount);
    EXPECT_EQ(stateCount("addNewAccount called"), 1u);
    EXPECT_FALSE(panel().isSwitchAccountPopoverPresented);
}

TEST_F(TarnwickMenuBarContentTest, LoginOpensThePendingUrlOrAsksTheDaemonForOneAndWaitsForTheLogin) {
    api_->scriptLogin(std::unexpected(LocalAPIError::connectFailed("refused")));
    activate(Id::login);
    EXPECT_EQ(log_.count("[UI] LocalAPI login failed: " +
                         LocalAPIError::connectFailed("refused").description()),
              1u);
    EXPECT_THAT(opener_->opened, IsEmpty());

    api_->scriptLogin("https://login.example/1");
    activate(Id::login);
    EXPECT_EQ(app_->login().get().interactiveLoginUrl, "https://login.example/1");
    EXPECT_THAT(opener_->opened, ElementsAre("https://login.example/1"));
    main_->advance(1.0);
    settle();
    EXPECT_EQ(api_->count("getStatus"), 1u);  // the login poll runs

    activate(Id::login);  // the URL is known now: no second request
    EXPECT_EQ(api_->count("startLogin"), 2u);
    EXPECT_THAT(opener_->opened, ElementsAre("https://login.example/1", "https://login.example/1"));
}

TEST_F(TarnwickMenuBarContentTest, LoggedInShowsIdentityStatusAndAddressesInOrder) {
    approveExtension();
    logIn();
    app_->vpn().set({Status::connected});
    EXPECT_THAT(texts(panel().rows),
                ElementsAre("ann@example.com", "Connected", "—", "Disconnect", "—",
                            "DNS: laptop.example.", "Tarnwick IPv4: 100.64.0.1",
                            "Tarnwick IPv6: fd42::1", "Name: Ann", "Email: ann@example.com", "—",
                            "Check for Updates...", "More", "—", "Quit Tarnwick"));

    const std::vector<std::tuple<Status, StatusDot, std::string>> table{
        {Status::disconnected, StatusDot::gray, "Disconnected"},
        {Status::connected, StatusDot::green, "Connected"},
        {Status::connecting, StatusDot::orange, "Connecting..."},
        {Status::disconnecting, StatusDot::orange, "Disconnecting..."},
        {Status::error, StatusDot::orange, "Error"},
        {Status::unknown, StatusDot::orange, "Unknown"},
    };
    for (const auto& [status, dot, text] : table) {
        app_->vpn().set({status});
        EXPECT_EQ(row(Id::status).text, text);
        EXPECT_EQ(row(Id::status).dot, dot) << text;
    }

    auto login = app_->login().get();
    login.email.clear();
    login.jailedReason = "posture";
    app_->login().set(login);
    for (const auto& [status, dot, text] : table) {
        app_->vpn().set({status});
        EXPECT_THAT(texts(panel().rows),
                    testing::IsSupersetOf({"Signed in", "posture", "Blocked by Device Policy"}));
        EXPECT_EQ(row(Id::status).dot, StatusDot::orange);
    }
    EXPECT_EQ(panel().rows[1].id, Id::jailedReason);
    EXPECT_EQ(find(panel().rows, Id::email), nullptr);
}

TEST_F(TarnwickMenuBarContentTest, ConnectRowDisconnectsWhileConnectedOrConnecting) {
    approveExtension();
    logIn();
    for (auto [status, label, action] :
         {std::tuple{Status::connecting, "Connect", "disconnect"},
          std::tuple{Status::connected, "Disconnect", "disconnect"},
          std::tuple{Status::disconnected, "Connect", "connect"},
          std::tuple{Status::error, "Connect", "connect"}}) {
        app_->vpn().set({status});
        EXPECT_EQ(row(Id::connect).text, label);
        const auto before = stateCount(action);
        activate(Id::connect);
        EXPECT_EQ(stateCount(action), before + 1) << label;
    }
}

TEST_F(TarnwickMenuBarContentTest, UnapprovedExtensionReplacesTheConnectRowWithItsGuide) {
    logIn();
    ASSERT_EQ(find(panel().rows, Id::connect), nullptr);
    EXPECT_EQ(row(Id::systemExtension).text, "System Extension Not Active");
    EXPECT_EQ(row(Id::systemExtension).detail, kApprovalGuide);
    EXPECT_EQ(row(Id::systemExtension).maxLines, 5);

    activate(Id::systemExtension);  // opens the approval and asks for activation
    EXPECT_THAT(extensionPlatform_->triedTargets, ElementsAre("install"));
    ASSERT_EQ(extensionPlatform_->activations().size(), 1u);

    // Waiting for the user: the guide says where to approve, whatever error came with it.
    extensionPlatform_->fail(0, {SystemExtensionError::kDomain,
                                 SystemExtensionError::kAuthorizationRequired, "Needs approval"});
    settle();
    EXPECT_EQ(row(Id::systemExtension).text, "System Extension Approval Required");
    EXPECT_EQ(row(Id::systemExtension).detail, kApprovalGuide);
    const auto tried = extensionPlatform_->triedTargets.size();
    activate(Id::systemExtension);
    EXPECT_GT(extensionPlatform_->triedTargets.size(), tried);
    EXPECT_EQ(extensionPlatform_->activations().size(), 1u);  // approval pending: no new request

    extension_->activate();
    settle();
    extensionPlatform_->fail(1, {"NMError", 3, "Plugin missing"});
    settle();
    EXPECT_EQ(row(Id::systemExtension).text, "System Extension Not Active");
    EXPECT_EQ(row(Id::systemExtension).detail,
              "システム拡張を有効化できませんでした\nPlugin missing");
    activate(Id::systemExtension);
    EXPECT_EQ(extensionPlatform_->activations().size(), 3u);

    extensionPlatform_->finish(2, SystemExtensionRequestResult::completed);
    settle();
    EXPECT_EQ(find(panel().rows, Id::systemExtension), nullptr);
    EXPECT_EQ(row(Id::connect).text, "Connect");
}

TEST_F(TarnwickMenuBarContentTest, AddressRowsFollowTheAddressTextAndCopyWithANotification) {
    approveExtension();
    logIn("laptop.example.", "100.64.0.1, fd42::1");
    EXPECT_EQ(row(Id::ipv4).text, "Tarnwick IPv4: 100.64.0.1");
    EXPECT_EQ(row(Id::ipv6).text, "Tarnwick IPv6: fd42::1");

    activate(Id::dns);
    activate(Id::ipv4);
    EXPECT_THAT(clipboard_->texts, ElementsAre("laptop.example", "100.64.0.1"));
    const auto posted = notificationService_->addedRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].title, "DNS Copied");
    EXPECT_EQ(posted[1].title, "Tarnwick IPv4 Copied");
    EXPECT_EQ(posted[1].body, "100.64.0.1");
    EXPECT_TRUE(posted[1].identifier.starts_with("copy-"));
    EXPECT_EQ(posted[1].identifier.size(), 5u + 36u);
    EXPECT_NE(posted[0].identifier, posted[1].identifier);

    logIn("", "fd42::1");
    EXPECT_EQ(find(panel().rows, Id::ipv4), nullptr);
    EXPECT_EQ(find(panel().rows, Id::dns), nullptr);

    logIn("", "");
    EXPECT_THAT(texts(panel().rows),
                ElementsAre("ann@example.com", "Disconnected", "—", "Connect", "Name: Ann",
                            "Email: ann@example.com", "—", "Check for Updates...", "More", "—",
                            "Quit Tarnwick"));
}

TEST_F(TarnwickMenuBarContentTest, MorePopoverHoldsAccountsAndTheAppsOwnActions) {
    approveExtension();
    logIn();
    daemonProfiles({profile("a", true), profile("b", false)});
    activate(Id::logout);  // not shown yet: does nothing
    EXPECT_EQ(stateCount("logout called"), 0u);

    activate(Id::more);
    ASSERT_TRUE(panel().isMorePopoverPresented);
    EXPECT_THAT(texts(panel().morePopover),
                ElementsAre("Switch Account", "a-name", "b-name", "—", "Add Account", "—", "Logout",
                            "—", "About", "Docs", "—", "Export Logs", "—", "Uninstall Tarnwick"));
    EXPECT_EQ(find(panel().morePopover, Id::uninstall)->color, ColorRole::destructive);

    activate(Id::about);
    activate(Id::docs);
    EXPECT_THAT(opener_->opened, ElementsAre("https://home.example/", "https://docs.example/"));

    activate(Id::profile, "b");
    EXPECT_EQ(stateCount("switchProfile to b"), 1u);
    EXPECT_FALSE(panel().isMorePopoverPresented);

    activate(Id::more);
    activate(Id::uninstall);
    EXPECT_FALSE(panel().isMorePopoverPresented);
    EXPECT_TRUE(panel().showUninstallConfirm);
    menu().cancelUninstall();
    EXPECT_FALSE(panel().showUninstallConfirm);
    EXPECT_EQ(uninstalls_, 0);
    activate(Id::more);
    activate(Id::uninstall);
    menu().confirmUninstall();
    menu().confirmUninstall();  // a second press of a closed dialog
    EXPECT_EQ(uninstalls_, 1);
    EXPECT_FALSE(panel().showUninstallConfirm);

    activate(Id::more);
    activate(Id::logout);
    EXPECT_EQ(stateCount("logout called"), 1u);
    EXPECT_FALSE(panel().isMorePopoverPresented);  // its row went with the login
}

TEST_F(TarnwickMenuBarContentTest, WhiteLabelBuildsLeaveOutTheProductPages) {
    writeInfo(R"("TWConductorURL":"https://control.example")");
    logIn();
    EXPECT_THAT(texts(panel().morePopover),
                ElementsAre("Switch Account", "Add Account", "—", "Logout", "—", "Export Logs", "—",
                            "Uninstall Tarnwick"));

    const auto whiteLabel = [](const std::string& keys) {
        TempDir dir;
        std::ofstream(dir.file("Info.json")) << "{" << keys << "}";
        return TarnwickMenuBarContent::isWhiteLabelBuild(Bundle(dir.path()));
    };
    EXPECT_TRUE(whiteLabel(R"("TWConductorURL":"https://control.example")"));
    EXPECT_FALSE(whiteLabel(R"j("TWConductorURL":"$(TW_CONDUCTOR_URL)")j"));
    EXPECT_FALSE(whiteLabel(R"("TWConductorURL":true)"));
}

TEST_F(TarnwickMenuBarContentTest, DisabledAndHiddenRowsDoNothingAndHoverFollowsThePointer) {
    approveExtension();
    logIn();
    EXPECT_FALSE(row(Id::checkForUpdates).enabled);
    activate(Id::checkForUpdates);
    EXPECT_EQ(updaterService_->checks, 0);
    updaterService_->canCheckForUpdates().set(true);
    activate(Id::checkForUpdates);
    EXPECT_EQ(updaterService_->checks, 1);

    menu().setHovering(Id::connect, {}, true);
    EXPECT_TRUE(row(Id::connect).hovering);
    menu().setHovering(Id::connect, {}, false);
    EXPECT_FALSE(row(Id::connect).hovering);

    // A row that goes away under the pointer is not highlighted when it comes back.
    menu().setHovering(Id::dns, {}, true);
    logIn("", "");
    logIn();
    EXPECT_FALSE(row(Id::dns).hovering);

    daemonProfiles({profile("a", true), profile("b", false)});
    activate(Id::more);
    menu().setHovering(Id::profile, "a", true);
    menu().setHovering(Id::profile, "b", true);  // entered before "a" reports the leave
    menu().setHovering(Id::profile, "a", false);
    EXPECT_TRUE(find(panel().morePopover, Id::profile, "b")->hovering);
    EXPECT_FALSE(find(panel().morePopover, Id::profile, "a")->hovering);
    menu().dismissMorePopover();
    activate(Id::more);
    EXPECT_FALSE(find(panel().morePopover, Id::profile, "b")->hovering);
}

TEST_F(TarnwickMenuBarContentTest, ExportCopiesBothLogsIntoTheChosenFolderAndOpensIt) {
    std::ofstream(daemonLog_) << "daemon line\n";
    approveExtension();
    logIn();
    activate(Id::more);
    activate(Id::exportLogs);
    EXPECT_EQ(picker_->title, "Export Logs");
    EXPECT_EQ(picker_->prompt, "Export");
    picker_->choose(std::nullopt);
    settle();

    activate(Id::exportLogs);
    TempDir chosen;
    picker_->choose(chosen.path().string());
    ASSERT_TRUE(main_->runUntil([&] { return !opener_->opened.empty(); }));
    EXPECT_THAT(opener_->opened, ElementsAre(chosen.path().string()));
    EXPECT_EQ(log_.count("[UI] Exported logs: app.log, client.log"), 1u);
    EXPECT_TRUE(std::filesystem::exists(chosen.path() / "app.log"));
    EXPECT_TRUE(std::filesystem::exists(chosen.path() / "client.log"));
}

}  // namespace
}  // namespace tw
