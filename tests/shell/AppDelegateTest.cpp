#include "app/shell/AppDelegate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/core/AppViewState.h"
#include "app/core/LoginItem.h"
#include "app/core/NotificationHelper.h"
#include "app/helperbridge/TarnwickCLI.h"
#include "app/tunnel/SystemExtensionService.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/NotificationCenter.h"
#include "tests/support/AppStateFakes.h"
#include "tests/support/FakeApplicationEvents.h"
#include "tests/support/FakeHelperConnection.h"
#include "tests/support/FakeHelperRegistration.h"
#include "tests/support/FakeLoginItemService.h"
#include "tests/support/FakeNotificationService.h"
#include "tests/support/FakeShellViews.h"
#include "tests/support/FakeSystemExtensionPlatform.h"
#include "tests/support/FakeUpdaterService.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Call = FakeHelperRegistration::Call;

constexpr auto kReady = "[App] Helper is ready and reachable. Starting daemon...";

// The whole shell over fakes of every port, on virtual time.
class AppDelegateTest : public ::testing::Test, protected AppStateFakes {
protected:
    AppDelegateTest() {
        std::ofstream(bundleDir_.file("Info.json"))
            << R"({"CFBundleIdentifier":"com.tarnwick.desktop","CFBundleVersion":"42"})";
        std::filesystem::create_directories(bundleDir_.path() / "Resources");
        std::ofstream(bundleDir_.file("Resources/tarnwickd")) << "";
        std::ofstream(bundleDir_.file("Resources/tarnwick")) << "";
        const Bundle bundle(bundleDir_.path());
        tunnel_ = VPNTunnelService::create(main_, log_.logger(), vpnPlatform_, bundle);
        extension_ = SystemExtensionService::create(main_, log_.logger(), extensionPlatform_,
                                                    std::make_shared<NotificationCenter>(), bundle);
        AppViewState::Peers statePeers{main_, log_.logger(), api_, bus_, tunnel_, [] { return true; }, {}, {}};
        state_ = AppViewState::create(statePeers);
        loginItem_ = std::make_shared<LoginItem>(
            std::make_shared<Preferences>(dataDir_.file("preferences.json")), loginService_, log_.logger());
        delegate_ = AppDelegate::create({
            .mainQueue = main_,
            .logger = log_.logger(),
            .appState = state_,
            .peltoBus = bus_,
            .cli = std::make_shared<TarnwickCLI>(bundle, log_.logger(), helper_),
            .systemExtension = extension_,
            .tunnel = tunnel_,
            .helperRegistration = registration_,
            .loginItem = loginItem_,
            .build = "42",
            .notifications = std::make_shared<NotificationHelper>(main_, notificationService_, log_.logger()),
            .updater = updater_,
            .statusBar = views_,
            .mainMenu = views_,
            .events = events_,
            .processName = "Tarnwick",
            .terminate = [this] { ++quits_; },
        });
    }

    void launch() {
        delegate_->applicationDidFinishLaunching();
        settle();
    }

    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& record : log_.records()) {
            if (record.starts_with(prefix)) found.push_back(record);
        }
        return found;
    }
    std::size_t count(const std::string& record) const { return log_.count(record); }

    TempDir dataDir_;
    std::shared_ptr<FakeSystemExtensionPlatform> extensionPlatform_ =
        std::make_shared<FakeSystemExtensionPlatform>();
    std::shared_ptr<FakeHelperConnection> helper_ = std::make_shared<FakeHelperConnection>();
    std::shared_ptr<FakeHelperRegistration> registration_ = std::make_shared<FakeHelperRegistration>();
    std::shared_ptr<FakeLoginItemService> loginService_ = std::make_shared<FakeLoginItemService>();
    std::shared_ptr<FakeNotificationService> notificationService_ = std::make_shared<FakeNotificationService>();
    std::shared_ptr<FakeUpdaterService> updater_ = std::make_shared<FakeUpdaterService>();
    std::shared_ptr<FakeShellViews> views_ = std::make_shared<FakeShellViews>();
    std::shared_ptr<FakeApplicationEvents> events_ = std::make_shared<FakeApplicationEvents>();
    std::shared_ptr<VPNTunnelService> tunnel_;
    std::shared_ptr<SystemExtensionService> extension_;
    std::shared_ptr<AppViewState> state_;
    std::shared_ptr<LoginItem> loginItem_;
    std::shared_ptr<AppDelegate> delegate_;
    int quits_ = 0;
};

TEST_F(AppDelegateTest, LaunchBuildsTheShellInOrderThenRegistersAndPingsTheHelper) {
    launch();

    EXPECT_EQ(log_.records().front(), "[App] Tarnwick Desktop App Launching...");
    EXPECT_EQ(notificationService_->authorizationRequests(), 1u);
    EXPECT_THAT(views_->calls, ElementsAre("setupMenuBar", "installMainMenu"));
    ASSERT_EQ(views_->items.size(), 4u);
    EXPECT_EQ(views_->items[0].title, "About Tarnwick");
    EXPECT_EQ(views_->items[1].title, "Check for Updates...");
    EXPECT_EQ(views_->items[2].title, "");
    EXPECT_EQ(views_->items[3].title, "Quit Tarnwick");
    views_->items[0].action();
    views_->items[1].action();
    views_->items[3].action();
    EXPECT_EQ(views_->calls.back(), "showAboutPanel");
    EXPECT_EQ(updater_->checks, 1);
    EXPECT_EQ(quits_, 1);

    EXPECT_TRUE(events_->urlHandler);
    EXPECT_EQ(loginService_->registerCalls, 1);
    // The helper is registered and its state read before the first ping.
    EXPECT_THAT(registration_->calls(), ElementsAre(Call::registerService, Call::status));
    ASSERT_EQ(helper_->requests().size(), 1u);
    EXPECT_EQ(helper_->requests()[0].path, (bundleDir_.path() / "Resources/tarnwickd").string());
    EXPECT_EQ(events_->observers(), 1u);
}

TEST_F(AppDelegateTest, AHelperAnsweringTheThirdPingIsWaitedForWithGrowingPauses) {
    helper_->pingAnswers = {false, false, true};
    launch();
    EXPECT_EQ(helper_->count("--help"), 1u);
    advance(0.49);
    EXPECT_EQ(helper_->count("--help"), 1u);
    advance(0.01);
    EXPECT_EQ(helper_->count("--help"), 2u);
    advance(0.75);

    EXPECT_EQ(helper_->count("--help"), 3u);
    EXPECT_THAT(lines("[App] Helper"),
                ElementsAre("[App] Helper not reachable. Retrying in 0.50 seconds (attempt 1/10)...",
                            "[App] Helper not reachable. Retrying in 0.75 seconds (attempt 2/10)...", kReady));
    EXPECT_EQ(helper_->count("up"), 1u);
    EXPECT_EQ(extensionPlatform_->activations().size(), 1u);
    // Each retry registers the helper again before it pings.
    EXPECT_EQ(registration_->calls().size(), 6u);
}

TEST_F(AppDelegateTest, AHelperThatNeverAnswersIsGivenUpAfterTenRetriesUntilTheAppBecomesActive) {
    helper_->pingAnswers = std::deque<bool>(11, false);
    launch();
    advance(60);

    std::vector<std::string> expected;
    const char* delays[] = {"0.50", "0.75", "1.12", "1.69", "2.53", "3.80", "5.70", "8.54", "12.81", "19.22"};
    for (int attempt = 1; attempt <= 10; ++attempt) {
        expected.push_back(std::string("[App] Helper not reachable. Retrying in ") + delays[attempt - 1] +
                           " seconds (attempt " + std::to_string(attempt) + "/10)...");
    }
    expected.push_back("[App] Failed to communicate with Helper after 10 attempts.");
    EXPECT_THAT(lines("[App] "), testing::IsSupersetOf(expected));
    EXPECT_EQ(count(expected.back()), 1u);
    EXPECT_EQ(helper_->count("--help"), 11u);
    EXPECT_EQ(state_->helperRegistrationError().get(), std::string(AppDelegate::kHelperUnreachableMessage));
    EXPECT_TRUE(state_->helperNeedsApproval().get());
    EXPECT_EQ(helper_->count("up"), 0u);
    EXPECT_EQ(bus_->starts, 0);

    // Turning to the application starts a new chain.
    helper_->pingAnswers = {true};
    events_->becomeActive();
    settle();
    EXPECT_EQ(count("[App] App became active while helper needs approval, re-checking..."), 1u);
    EXPECT_EQ(count(kReady), 1u);
    EXPECT_FALSE(state_->helperNeedsApproval().get());
}

TEST_F(AppDelegateTest, AHelperAwaitingApprovalShowsWhereToApproveAndIsRecheckedOnActivation) {
    registration_->currentStatus = HelperRegistrationStatus::requiresApproval;
    registration_->registerResult = std::unexpected(HelperRegistrationError{HelperRegistrationError::Code::notAuthorized, ""});
    launch();
    EXPECT_TRUE(state_->helperNeedsApproval().get());
    EXPECT_EQ(state_->helperRegistrationError().get(), std::string(AppDelegate::kHelperNeedsApprovalMessage));
    EXPECT_EQ(lines("[App] Helper register attempt failed: ").size(), 1u);

    // Approved meanwhile: the next activation re-registers and the message goes.
    registration_->currentStatus = HelperRegistrationStatus::enabled;
    registration_->registerResult = {};
    events_->becomeActive();
    settle();
    EXPECT_FALSE(state_->helperNeedsApproval().get());
    EXPECT_EQ(state_->helperRegistrationError().get(), std::nullopt);
    EXPECT_EQ(helper_->count("--help"), 2u);
    // Nothing to re-check any more.
    events_->becomeActive();
    settle();
    EXPECT_EQ(helper_->count("--help"), 2u);
}

TEST_F(AppDelegateTest, TheStateStartsOnceWhateverOfSuccessFailureAndTheFallbackArrives) {
    helper_->pingAnswers = {true};
    launch();
    ASSERT_EQ(extensionPlatform_->activations().size(), 1u);
    extensionPlatform_->finish(0, SystemExtensionRequestResult::completed);
    settle();
    EXPECT_EQ(count("[App] System Extension activated, ensuring VPN configuration..."), 1u);
    EXPECT_EQ(count("[App] VPN configuration ready, starting app state..."), 1u);
    EXPECT_EQ(vpnPlatform_->saved().size(), 1u);
    EXPECT_EQ(bus_->starts, 1);

    // A second chain (a re-check on activation) reaches the ready state too and fails.
    extension_->onFailed();
    advance(5.0);
    EXPECT_EQ(count("[App] System Extension activation failed, starting app state anyway..."), 1u);
    EXPECT_EQ(bus_->starts, 1);
    EXPECT_TRUE(delegate_->didStartAppState());
}

TEST_F(AppDelegateTest, AnActivationThatNeverReportsStartsTheStateAfterFiveSeconds) {
    helper_->pingAnswers = {true};
    launch();
    advance(4.99);
    EXPECT_EQ(bus_->starts, 0);
    advance(0.01);
    EXPECT_EQ(bus_->starts, 1);
    extensionPlatform_->fail(0, {"other.domain", 1, "refused"});
    advance(10);
    EXPECT_EQ(bus_->starts, 1);
}

TEST_F(AppDelegateTest, OverlappingChainsStartTheDaemonForEachButTheStateOnce) {
    registration_->currentStatus = HelperRegistrationStatus::requiresApproval;
    launch();
    events_->becomeActive();
    settle();
    EXPECT_EQ(helper_->count("--help"), 2u);
    helper_->answerHeldPing(true);
    helper_->answerHeldPing(true);
    settle();
    EXPECT_EQ(count(kReady), 2u);
    EXPECT_EQ(helper_->count("up"), 2u);
    advance(5);
    EXPECT_EQ(bus_->starts, 1);
}

TEST_F(AppDelegateTest, OnlyATarnwickLinkWithAFilledTokenStartsTheLoginPoll) {
    launch();  // the ping stays unanswered: the shell keeps serving meanwhile
    const std::vector<std::pair<std::string, bool>> cases = {
        {"tarnwick://login?token=x", true},
        {"tarnwick://login?other=1&token=%41b#frag", true},
        {"tarnwick:login?token=x", true},
        {"tarnwick://login?token=", false},
        {"tarnwick://login?token", false},
        {"tarnwick://login?token=&token=x", false},
        {"TARNWICK://login?token=x", false},
        {"Tarnwick://login?token=x", false},
        {"https://example.com/?token=x", false},
        {"tarnwick://login?tok%en=x&token=y", false},
        {"tarnwick://login", false},
        {"no url at all", false},
        {"", false},
    };
    for (const auto& [url, accepted] : cases) {
        views_->calls.clear();
        const auto before = count("[State] Authenticate called with token");
        events_->open(url);
        settle();
        EXPECT_EQ(count("[State] Authenticate called with token") - before, accepted ? 1u : 0u) << url;
        EXPECT_EQ(views_->calls, accepted ? std::vector<std::string>{"showWindow"} : std::vector<std::string>{})
            << url;
    }
    for (const auto& record : log_.records()) EXPECT_EQ(record.find("%41b"), std::string::npos);
}

TEST_F(AppDelegateTest, TerminationTakesTheNodeDownStopsTunnelAndStreamAndWaitsForNothing) {
    helper_->pingAnswers = {true};
    launch();
    advance(5);
    const auto before = log_.records().size();
    delegate_->applicationWillTerminate();
    delegate_->applicationWillTerminate();

    const auto records = log_.records();
    EXPECT_THAT(std::vector<std::string>(records.begin() + static_cast<long>(before), records.end()),
                testing::IsSupersetOf({"[App] Tarnwick Desktop App terminating...",
                                       "[CLI] Invoking tarnwick down via Helper",
                                       "[App] Tarnwick Desktop App terminated (tarnwickd still running)"}));
    EXPECT_EQ(count("[App] Tarnwick Desktop App terminating..."), 1u);
    EXPECT_EQ(helper_->requests().back().path, (bundleDir_.path() / "Resources/tarnwick").string());
    EXPECT_THAT(helper_->requests().back().arguments, ElementsAre("down"));
    EXPECT_EQ(helper_->count("down"), 1u);
    EXPECT_EQ(bus_->stops, 1);
    // The daemon is left running: nothing but "down" went to the helper.
    EXPECT_EQ(helper_->count("up"), 1u);
    EXPECT_EQ(events_->observers(), 0u);
}

}  // namespace
}  // namespace tw
