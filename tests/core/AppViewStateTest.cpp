#include "app/core/AppViewState.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/tunnel/VPNTunnelService.h"
#include "tests/support/FakeLocalAPI.h"
#include "tests/support/FakePeltoBus.h"
#include "tests/support/FakeVpnPlatform.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr auto kProvider = "com.tarnwick.desktop.PacketTunnel";

PeltoBusNotify stateNotify(PeltoBusState state) {
    PeltoBusNotify notify;
    notify.state = state;
    return notify;
}

PeltoBusNotify mapNotify(std::optional<std::string_view> name = "laptop", std::int64_t userID = 7,
                         std::optional<UserProfile> profile = UserProfile{"ann@example.com", "Ann", {}}) {
    Node node;
    node.id = 42;
    static constexpr std::string_view kAddresses[] = {"100.64.0.1", "fd42::1"};
    node.name = name;
    node.addresses = TextList(kAddresses);
    node.userID = userID;
    NetworkMap map;
    map.selfNode = NodeView{node};
    if (profile) map.userProfiles = {{{"7", *profile}}};
    PeltoBusNotify notify;
    notify.netMap = map;
    return notify;
}

PeltoBusNotify jailNotify(bool jailed, std::optional<std::string> reason = {}) {
    PeltoBusNotify notify;
    notify.jailed = jailed;
    notify.jailReason = std::move(reason);
    return notify;
}

ProfileInfo profile(std::string id, bool current, std::optional<std::string> email = {}) {
    return ProfileInfo{std::move(id), "name", std::nullopt, std::move(email), current};
}

class AppViewStateTest : public ::testing::Test {
protected:
    AppViewStateTest() {
        std::ofstream(bundleDir_.file("Info.json")) << R"({"CFBundleIdentifier":"com.tarnwick.desktop"})";
        tunnel_ = VPNTunnelService::create(main_, log_.logger(), vpnPlatform_, Bundle(bundleDir_.path()));
        AppViewState::Peers peers{main_, log_.logger(), api_, bus_, tunnel_,
                                  [this] { return approved_; },
                                  [this](const std::string& title, const std::string& body) {
                                      notifications_.push_back(title + "|" + body);
                                  },
                                  [this](const std::string& url) { opened_.push_back(url); }};
        model_ = AppViewState::create(peers);
        loginSubscription_ = model_->login().subscribe([this](const LoginViewState&) { ++loginPublished_; });
        settle();
    }

    // Delivers every pending answer and runs what they post, until nothing moves.
    void settle() {
        do {
            api_->waitForAnswers();
        } while (main_->runUntilIdle() > 0);
    }

    void advance(double seconds) {
        main_->advance(seconds);
        settle();
    }

    void receive(const PeltoBusNotify& notify) {
        model_->peltoBusDidReceiveNotify(notify);
        settle();
    }

    void logIn() {
        receive(mapNotify());
        ASSERT_TRUE(model_->login().get().isLoggedIn);
    }

    std::vector<std::string> stateLines() const {
        std::vector<std::string> lines;
        for (const auto& record : log_.records()) {
            if (record.starts_with("[State] ")) lines.push_back(record.substr(8));
        }
        return lines;
    }

    std::size_t starts() const {
        std::size_t total = 0;
        for (const auto& c : vpnPlatform_->saved()) total += static_cast<std::size_t>(c->starts);
        return total;
    }

    TempDir bundleDir_;
    TestLogger log_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeLocalAPI> api_ = std::make_shared<FakeLocalAPI>();
    std::shared_ptr<FakePeltoBus> bus_ = std::make_shared<FakePeltoBus>();
    std::shared_ptr<FakeVpnPlatform> vpnPlatform_ = std::make_shared<FakeVpnPlatform>();
    std::shared_ptr<VPNTunnelService> tunnel_;
    bool approved_ = true;
    std::vector<std::string> notifications_;
    std::vector<std::string> opened_;
    std::shared_ptr<AppViewState> model_;
    Subscription loginSubscription_;
    int loginPublished_ = 0;
};

// --- The event stream folded into the login state ---

TEST_F(AppViewStateTest, StartsTheStreamAndIsItsDelegate) {
    model_->start();
    EXPECT_EQ(bus_->starts, 1);
    EXPECT_EQ(bus_->delegate.lock(), model_);
    EXPECT_THAT(stateLines(), Contains("start() called"));
}

TEST_F(AppViewStateTest, TheFirstMapLogsInRefreshesProfilesAndConnectsOnce) {
    receive(mapNotify());
    const auto& login = model_->login().get();
    EXPECT_TRUE(login.isLoggedIn);
    EXPECT_EQ(login.hostName, "laptop");
    EXPECT_EQ(login.nodeID, 42);
    EXPECT_EQ(login.tarnwickIPs, "100.64.0.1,fd42::1");
    EXPECT_EQ(login.email, "ann@example.com");
    EXPECT_EQ(login.userName, "Ann");
    EXPECT_EQ(api_->count("getProfiles"), 1u);
    EXPECT_EQ(api_->count("setWantRunning:true"), 1u);
    EXPECT_EQ(starts(), 1u);

    const int published = loginPublished_;
    receive(mapNotify());
    EXPECT_EQ(loginPublished_, published);
    EXPECT_EQ(api_->count("getProfiles"), 1u);
    EXPECT_EQ(api_->count("setWantRunning:true"), 1u);
}

TEST_F(AppViewStateTest, NeedsLoginLogsOutAndClearsTheBlockAndTheLogoutFlag) {
    logIn();
    receive(jailNotify(true, "quota"));
    ASSERT_TRUE(model_->login().get().jailedReason);
    receive(stateNotify(PeltoBusState::needsLogin));
    EXPECT_FALSE(model_->login().get().isLoggedIn);
    EXPECT_FALSE(model_->login().get().jailedReason);
    EXPECT_EQ(model_->currentBackendState(), PeltoBusState::needsLogin);
    EXPECT_THAT(stateLines(), Contains("Received PeltoBus state: needsLogin"));

    logIn();
    model_->logout();
    settle();
    ASSERT_TRUE(model_->isLoggingOut());
    receive(stateNotify(PeltoBusState::needsLogin));
    EXPECT_FALSE(model_->isLoggingOut());
}

TEST_F(AppViewStateTest, TakesEachStreamLineAsItIsDeliveredWithoutAnotherHop) {
    model_->peltoBusDidReceiveNotify(mapNotify());
    EXPECT_TRUE(model_->login().get().isLoggedIn);
}

TEST_F(AppViewStateTest, AMapWhileLoggingOutDoesNotLogBackInUntilTheDaemonSaysNeedsLogin) {
    logIn();
    model_->logout();
    settle();
    EXPECT_EQ(model_->login().get(), LoginViewState{});
    receive(mapNotify());
    EXPECT_FALSE(model_->login().get().isLoggedIn);
    receive(jailNotify(true));
    EXPECT_FALSE(model_->login().get().jailedReason);
    receive(stateNotify(PeltoBusState::needsLogin));
    receive(mapNotify());
    EXPECT_TRUE(model_->login().get().isLoggedIn);
}

TEST_F(AppViewStateTest, TakesTheSelfNodesNameAndTheProfilesNamesAsTheyAre) {
    logIn();
    receive(mapNotify(std::nullopt));
    EXPECT_EQ(model_->login().get().hostName, "");
    receive(mapNotify("laptop", 7, UserProfile{"bob@example.com", std::nullopt, {}}));
    EXPECT_EQ(model_->login().get().userName, "bob@example.com");
    receive(mapNotify("laptop", 8));  // no profile for this user: names stay
    EXPECT_EQ(model_->login().get().email, "bob@example.com");
}

TEST_F(AppViewStateTest, AnEmptyLoginURLClearsTheStoredOneOnlyWhenLoggedIn) {
    PeltoBusNotify withURL = stateNotify(PeltoBusState::needsLogin);
    withURL.interactiveLoginUrl = "https://login.example/a";
    receive(withURL);
    PeltoBusNotify empty;
    empty.interactiveLoginUrl = "";
    receive(empty);
    EXPECT_EQ(model_->login().get().interactiveLoginUrl, "https://login.example/a");
    logIn();
    EXPECT_EQ(model_->login().get().interactiveLoginUrl, "");
}

TEST_F(AppViewStateTest, ABlockIsAnnouncedOnceWithTheDefaultReasonForABlankOne) {
    logIn();
    receive(jailNotify(true, " \n\t "));
    EXPECT_EQ(model_->login().get().jailedReason, "device posture non-compliant");
    receive(jailNotify(true, "  quota  "));
    EXPECT_EQ(model_->login().get().jailedReason, "quota");

    EXPECT_THAT(notifications_, ElementsAre("Tarnwick|デバイスポリシーを満たしていないため、通信がブロックされています"));
    EXPECT_THAT(stateLines(), Contains("node jailed: device posture non-compliant"));
    receive(jailNotify(false));
    EXPECT_FALSE(model_->login().get().jailedReason);
    EXPECT_EQ(notifications_.size(), 1u);
    receive(jailNotify(true, "again"));
    EXPECT_EQ(notifications_.size(), 2u);
}

TEST_F(AppViewStateTest, TrimsUnicodeSpaceFromTheBlockReason) {
    logIn();
    receive(jailNotify(true, "\u3000\u00a0\u2028"));
    EXPECT_EQ(model_->login().get().jailedReason, "device posture non-compliant");
    receive(jailNotify(true, "\u3000端末\u00a0\n"));
    EXPECT_EQ(model_->login().get().jailedReason, "端末");
}

TEST_F(AppViewStateTest, StartsWithTheTunnelsCurrentStatus) {
    EXPECT_EQ(model_->vpn().get().status, VPNConnectionStatus::disconnected);
}

TEST_F(AppViewStateTest, StoresEveryTunnelStatusItIsGiven) {
    int published = 0;
    auto subscription = model_->vpn().subscribe([&](const VpnViewState&) { ++published; });
    tunnel_->connectionStatus().set(VPNConnectionStatus::connected);
    tunnel_->connectionStatus().set(VPNConnectionStatus::connected);
    settle();
    EXPECT_EQ(model_->vpn().get().status, VPNConnectionStatus::connected);
    EXPECT_EQ(published, 2);
}

// --- Status answers and the login poll ---

TEST_F(AppViewStateTest, AStatusOfNeedsLoginInAnyCaseLogsOutAndTakesItsURL) {
    logIn();
    DaemonStatus status;
    status.backendState = "NEEDSLOGIN";
    model_->applyStatus(status);
    EXPECT_FALSE(model_->login().get().isLoggedIn);
    EXPECT_EQ(model_->login().get().interactiveLoginUrl, "");
    status.backendState = "needslogin";
    status.interactiveLoginUrl = "https://login.example/b";
    model_->applyStatus(status);
    EXPECT_EQ(model_->login().get().interactiveLoginUrl, "https://login.example/b");
}

TEST_F(AppViewStateTest, TheLoginPollTriggersEveryThirdAttemptAndConnectsWhenLoggedIn) {
    model_->pollForLoginCompletion();
    for (int i = 0; i < 9; ++i) advance(1.0);
    EXPECT_EQ(api_->count("getStatus"), 9u);
    EXPECT_EQ(api_->count("triggerLogin"), 3u);

    DaemonStatus running;
    running.backendState = "Running";
    api_->scriptStatus(running);
    advance(1.0);
    EXPECT_TRUE(model_->login().get().isLoggedIn);
    EXPECT_EQ(api_->count("setWantRunning:true"), 1u);
    advance(10.0);
    EXPECT_EQ(api_->count("getStatus"), 10u);
}

TEST_F(AppViewStateTest, TheLoginPollGivesUpAfter120AttemptsAndSurvivesFailures) {
    for (int i = 0; i < 5; ++i) api_->scriptStatus(std::unexpected(LocalAPIError::connectFailed("gone")));
    model_->pollForLoginCompletion();
    for (int second = 0; second < 200; ++second) advance(1.0);
    EXPECT_EQ(api_->count("getStatus"), 120u);
    EXPECT_EQ(api_->count("triggerLogin"), 40u);
    EXPECT_EQ(main_->pendingDelayedCount(), 0u);
}

// --- Connecting ---

TEST_F(AppViewStateTest, WithoutTheExtensionConnectOnlyAsksTheDaemonToRun) {
    approved_ = false;
    model_->connect();
    advance(10.0);
    EXPECT_EQ(api_->count("setWantRunning:true"), 1u);
    EXPECT_EQ(starts(), 0u);
    EXPECT_THAT(stateLines(), Contains("System Extension not approved, skipping VPN tunnel start"));
    EXPECT_THAT(stateLines(), Not(Contains(::testing::StartsWith("VPN connection retry"))));
}

TEST_F(AppViewStateTest, ATunnelThatNeverComesUpIsRetriedThreeTimes) {
    vpnPlatform_->addSaved(kProvider)->startError = VpnError{9, "NM", "no base connection"};
    model_->connect();
    settle();
    advance(20.0);
    EXPECT_EQ(starts(), 4u);
    std::vector<std::string> retries;
    for (const auto& line : stateLines()) {
        if (line.starts_with("VPN connection")) retries.push_back(line);
    }
    EXPECT_THAT(retries, ElementsAre("VPN connection retry 1/3", "VPN connection retry 2/3",
                                     "VPN connection retry 3/3", "VPN connection failed after 3 retries"));
}

TEST_F(AppViewStateTest, ATunnelThatIsConnectingAtTheCheckIsLeftAlone) {
    auto configuration = vpnPlatform_->addSaved(kProvider);
    configuration->statusAfterStart = VpnConfiguration::kStatusConnecting;
    model_->connect();
    advance(2.0);
    configuration->status = VpnConfiguration::kStatusDisconnected;
    vpnPlatform_->fireStatusChange();
    advance(10.0);
    EXPECT_EQ(configuration->starts, 1);
}

TEST_F(AppViewStateTest, DisconnectDuringTheWaitCancelsTheCheck) {
    vpnPlatform_->addSaved(kProvider)->startError = VpnError{9, "NM", "refused"};
    model_->connect();
    advance(1.0);
    model_->disconnect();
    advance(10.0);
    EXPECT_EQ(starts(), 1u);
    EXPECT_EQ(api_->count("setWantRunning:false"), 1u);
    EXPECT_THAT(stateLines(), Not(Contains("VPN connection retry 1/3")));
}

TEST_F(AppViewStateTest, ADisconnectOrLogoutWhileTheConfigurationIsSavedWins) {
    vpnPlatform_->addSaved(kProvider)->startError = VpnError{9, "NM", "refused"};
    model_->connect();
    model_->disconnect();
    advance(20.0);
    model_->peltoBusDidReceiveNotify(mapNotify());  // logs in and connects
    ASSERT_TRUE(model_->login().get().isLoggedIn);
    model_->logout();  // while that connect is still saving
    advance(20.0);
    EXPECT_EQ(starts(), 0u);
    EXPECT_THAT(stateLines(), Not(Contains("VPN connection retry 1/3")));
}

TEST_F(AppViewStateTest, ConnectingAgainStartsTheCountFromZero) {
    vpnPlatform_->addSaved(kProvider)->startError = VpnError{9, "NM", "refused"};
    model_->connect();
    advance(2.0);  // retry 1/3
    advance(1.0);
    model_->connect();
    advance(2.0);
    const auto lines = stateLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "VPN connection retry 1/3"), 2);
    EXPECT_THAT(stateLines(), Not(Contains("VPN connection retry 2/3")));
}

TEST_F(AppViewStateTest, AFailingDaemonStillLetsTheTunnelStartAndStop) {
    auto configuration = vpnPlatform_->addSaved(kProvider);
    api_->scriptVoid("setWantRunning", std::unexpected(LocalAPIError::connectFailed("No such file or directory")));
    model_->connect();
    settle();
    model_->disconnect();
    settle();
    EXPECT_EQ(configuration->starts, 1);
    EXPECT_EQ(configuration->stops, 1);
    EXPECT_THAT(stateLines(), Contains("failed to set WantRunning=true: Failed to connect to tarnwickd socket: "
                                       "No such file or directory"));
    EXPECT_THAT(stateLines(), Contains("daemon WantRunning=false"));
}

// --- Profiles and accounts ---

TEST_F(AppViewStateTest, TakesTheEmailOfTheFirstCurrentProfileOnly) {
    api_->scriptProfiles(ProfilesResponse{"b", {profile("a", false, "a@example.com"), profile("b", true, "b@example.com"),
                                                profile("c", true, "c@example.com")}});
    model_->refreshProfiles();
    settle();
    EXPECT_EQ(model_->login().get().email, "b@example.com");
    EXPECT_EQ(model_->login().get().userName, "b@example.com");
    EXPECT_EQ(model_->currentProfileId().get(), "b");
    EXPECT_EQ(model_->profiles().get().size(), 3u);
    EXPECT_THAT(stateLines(), Contains("Got 3 profiles"));

    api_->scriptProfiles(ProfilesResponse{"d", {profile("d", true, "d@example.com")}});
    model_->refreshProfiles();
    settle();
    EXPECT_EQ(model_->login().get().userName, "b@example.com");  // kept once set
    api_->scriptProfiles(ProfilesResponse{"e", {profile("e", true, "")}});
    model_->refreshProfiles();
    settle();
    EXPECT_EQ(model_->login().get().email, "d@example.com");
}

TEST_F(AppViewStateTest, SwitchingMarksTheProfileAtOnceAndRefreshesUntilTheDaemonAgrees) {
    api_->scriptProfiles(ProfilesResponse{"a", {profile("a", true), profile("b", false)}});
    model_->refreshProfiles();
    settle();
    const auto before = api_->count("getProfiles");
    model_->switchProfile("b");
    EXPECT_EQ(model_->currentProfileId().get(), "b");
    EXPECT_TRUE(model_->profiles().get()[1].isCurrent);
    EXPECT_FALSE(model_->profiles().get()[0].isCurrent);
    // The daemon answers "a" three times before it catches up.
    for (int i = 0; i < 3; ++i) api_->scriptProfiles(ProfilesResponse{"a", {profile("a", true), profile("b", false)}});
    api_->scriptProfiles(ProfilesResponse{"b", {profile("a", false), profile("b", true)}});
    settle();
    EXPECT_EQ(model_->currentProfileId().get(), "a");
    for (int i = 0; i < 3; ++i) advance(0.3);
    EXPECT_EQ(api_->count("getProfiles") - before, 4u);
    EXPECT_EQ(model_->currentProfileId().get(), "b");
    advance(10.0);
    EXPECT_EQ(api_->count("getProfiles") - before, 5u);
}

TEST_F(AppViewStateTest, RefreshesAtMostTenTimesAfterASwitch) {
    for (int i = 0; i < 20; ++i) api_->scriptProfiles(ProfilesResponse{"a", {profile("a", true)}});
    model_->switchProfile("b");
    settle();
    for (int i = 0; i < 20; ++i) advance(0.3);
    EXPECT_EQ(api_->count("getProfiles"), 10u);
}

TEST_F(AppViewStateTest, AFailedSwitchBringsBackTheDaemonsView) {
    api_->scriptVoid("switchProfile", std::unexpected(LocalAPIError::httpError(500, "no")));
    api_->scriptProfiles(ProfilesResponse{"a", {profile("a", true), profile("b", false)}});
    model_->switchProfile("b");
    settle();
    EXPECT_EQ(model_->currentProfileId().get(), "a");
    EXPECT_THAT(stateLines(), Contains("Failed to switch profile: HTTP error 500: no"));
}

TEST_F(AppViewStateTest, SwitchAndLoginOpensTheLoginURLAndAllowsLoggingInAgain) {
    logIn();
    model_->logout();
    settle();
    api_->scriptLogin(std::string("https://login.example/c"));
    model_->switchProfileAndLogin("b");
    settle();
    EXPECT_FALSE(model_->isLoggingOut());
    EXPECT_THAT(opened_, ElementsAre("https://login.example/c"));
    EXPECT_THAT(api_->calls(), Contains("switchProfile:b"));
}

TEST_F(AppViewStateTest, AddingAnAccountOpensItsLoginURLOrNothing) {
    api_->scriptVoid("switchToEmptyProfile", std::unexpected(LocalAPIError::httpError(403, "denied")));
    model_->addNewAccount();
    settle();
    EXPECT_THAT(stateLines(), Contains("Failed to switch to empty profile: HTTP error 403: denied"));
    EXPECT_EQ(api_->count("startLogin"), 0u);

    api_->scriptLogin(std::string("not a url"));
    model_->addNewAccount();
    settle();
    api_->scriptLogin(std::string("https://login.example/new"));
    model_->addNewAccount();
    settle();
    EXPECT_THAT(opened_, ElementsAre("https://login.example/new"));
    const auto lines = stateLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Got login URL for new account"), 2);
}

TEST_F(AppViewStateTest, LogoutShowsLoggedOutAtOnceAndTellsTheDaemon) {
    logIn();
    const auto profilesBefore = api_->count("getProfiles");
    model_->logout();
    EXPECT_EQ(model_->login().get(), LoginViewState{});
    EXPECT_EQ(bus_->logouts, 1);
    EXPECT_EQ(model_->currentBackendState(), PeltoBusState::noState);
    settle();
    EXPECT_EQ(api_->count("setWantRunning:false"), 1u);
    EXPECT_EQ(api_->count("getProfiles"), profilesBefore);
    advance(0.3);
    EXPECT_EQ(api_->count("getProfiles"), profilesBefore + 1);
}

TEST_F(AppViewStateTest, AnswersAfterTheModelIsGoneDoNothing) {
    model_->refreshProfiles();
    model_->switchProfile("x");
    model_->connect();
    model_.reset();
    settle();
    advance(30.0);
    EXPECT_THAT(opened_, IsEmpty());
}

}  // namespace
}  // namespace tw
