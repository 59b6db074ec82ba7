#include "devdaemon/StandInState.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "app/daemon/PeltoBusModels.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Backend = StandInState::Backend;

StandInState makeState(std::string hostName = "Work-Laptop.local", StandInState::Saved saved = {}) {
    return StandInState({.hostName = std::move(hostName), .seed = 7}, std::move(saved));
}

void logIn(StandInState& state) { ASSERT_TRUE(state.completeLogin(state.startLogin())); }

// Everything below reads the state back through the client's own decoders, so the JSON is
// checked against what the client accepts, not against a copy of the rendering code.
DaemonStatus status(const StandInState& state) {
    auto decoded = DaemonStatus::decode(state.statusJson());
    EXPECT_TRUE(decoded.has_value()) << state.statusJson();
    return decoded.value_or(DaemonStatus{});
}

ProfilesResponse profiles(const StandInState& state) {
    auto decoded = ProfilesResponse::decode(state.profilesJson());
    EXPECT_TRUE(decoded.has_value()) << decoded.error().description << ": " << state.profilesJson();
    return decoded.value_or(ProfilesResponse{});
}

PeltoBusNotify notification(const StandInState& state) {
    auto decoded = PeltoBusNotify::decode(state.notificationJson());
    EXPECT_TRUE(decoded.has_value()) << decoded.error().description << ": "
                                     << state.notificationJson();
    return decoded.value_or(PeltoBusNotify{});
}

TEST(StandInStateLogin, StartsWithOneEmptyCurrentProfileThatNeedsLogin) {
    const auto state = makeState();
    EXPECT_EQ(state.backend(), Backend::needsLogin);
    const auto listed = profiles(state);
    ASSERT_EQ(listed.profiles.size(), 1u);
    EXPECT_EQ(listed.profiles[0], (ProfileInfo{listed.currentProfileId, "", {}, {}, true}));
    const auto answer = status(state);
    EXPECT_EQ(answer.backendState, "NeedsLogin");
    EXPECT_EQ(answer.tarnwickIps, std::nullopt);
    EXPECT_EQ(answer.selfNode, (DaemonStatus::SelfNode{0, "work-laptop", std::nullopt}));
    EXPECT_EQ(answer.jailed, false);
    const auto notify = notification(state);
    EXPECT_EQ(notify.state, PeltoBusState::needsLogin);
    EXPECT_EQ(notify.netMap, std::nullopt);
    EXPECT_EQ(notify.version, std::string(StandInState::kVersion));
}

TEST(StandInStateLogin, IsPendingWithItsUrlUntilCompletedThenFillsTheProfile) {
    auto state = makeState();
    const auto url = state.startLogin();
    EXPECT_THAT(url, StartsWith("https://login.tarnwick.example/a/"));
    EXPECT_EQ(state.backend(), Backend::needsLogin);
    EXPECT_EQ(status(state).interactiveLoginUrl, url);
    EXPECT_EQ(notification(state).interactiveLoginUrl, url);

    ASSERT_TRUE(state.completeLogin(url));
    EXPECT_EQ(state.backend(), Backend::stopped);
    const auto answer = status(state);
    EXPECT_EQ(answer.interactiveLoginUrl, std::nullopt);
    ASSERT_TRUE(answer.tarnwickIps.has_value());
    EXPECT_THAT(answer.tarnwickIps->at(0), StartsWith("100."));
    EXPECT_THAT(answer.tarnwickIps->at(1), StartsWith("fd42:7a2e:5b00::"));
    EXPECT_EQ(answer.selfNode->addresses, answer.tarnwickIps);
    const auto profile = profiles(state).profiles.at(0);
    EXPECT_EQ(profile.name, "user@example.com");
    EXPECT_EQ(profile.userEmail, "user@example.com");
    EXPECT_EQ(profile.nodeId, answer.selfNode->id);
}

TEST(StandInStateLogin, RunsAtOnceWhenTheNodeWantedToRunBeforeLoggingIn) {
    auto state = makeState();
    state.setWantRunning(true);
    EXPECT_EQ(state.backend(), Backend::needsLogin);
    logIn(state);
    EXPECT_EQ(state.backend(), Backend::running);
}

TEST(StandInStateLogin, LetsOnlyTheLatestPendingLoginComplete) {
    auto state = makeState();
    const auto first = state.startLogin();
    const auto second = state.startLogin();
    EXPECT_NE(first, second);
    EXPECT_FALSE(state.completeLogin(first));
    EXPECT_EQ(state.pendingLoginUrl(), second);
    state.logout();
    EXPECT_FALSE(state.completeLogin(second));
    EXPECT_EQ(state.backend(), Backend::needsLogin);
}

TEST(StandInStateRunning, GoesThroughStartingAndStopsAgain) {
    auto state = makeState();
    logIn(state);
    state.setWantRunning(true);
    EXPECT_EQ(state.backend(), Backend::starting);
    state.finishStarting();
    EXPECT_EQ(state.backend(), Backend::running);
    state.setWantRunning(true);
    EXPECT_EQ(state.backend(), Backend::running);
    state.setWantRunning(false);
    EXPECT_EQ(state.backend(), Backend::stopped);
    EXPECT_THAT(state.prefsJson(), HasSubstr(R"("WantRunning":false)"));
}

TEST(StandInStateRunning, LogoutKeepsTheProfileButDropsItsAccountAndAddresses) {
    auto state = makeState();
    logIn(state);
    state.setWantRunning(true);
    const auto id = state.currentProfile().id;
    state.logout();
    EXPECT_EQ(state.backend(), Backend::needsLogin);
    const auto answer = status(state);
    EXPECT_EQ(answer.tarnwickIps, std::nullopt);
    EXPECT_EQ(answer.selfNode->id, 0);
    EXPECT_EQ(profiles(state).profiles, (std::vector<ProfileInfo>{{id, "", {}, {}, true}}));
    EXPECT_EQ(notification(state).netMap, std::nullopt);
    EXPECT_THAT(state.prefsJson(), HasSubstr(R"("LoggedOut":true)"));
}

TEST(StandInStateProfiles, SwitchesBetweenProfilesEachWithItsOwnLogin) {
    auto state = makeState();
    logIn(state);
    state.setWantRunning(true);
    state.finishStarting();
    const auto first = state.currentProfile();

    state.switchToEmpty();
    EXPECT_EQ(state.backend(), Backend::needsLogin);
    auto listed = profiles(state);
    ASSERT_EQ(listed.profiles.size(), 2u);
    EXPECT_NE(listed.currentProfileId, first.id);
    EXPECT_FALSE(listed.profiles[0].isCurrent);
    EXPECT_TRUE(listed.profiles[1].isCurrent);

    logIn(state);
    EXPECT_EQ(state.currentProfile().account->loginName, "user2@example.com");
    EXPECT_NE(state.currentProfile().account->nodeId, first.account->nodeId);

    state.startLogin();
    ASSERT_TRUE(state.switchProfile(first.id));
    EXPECT_EQ(state.pendingLoginUrl(), std::nullopt);
    EXPECT_EQ(state.backend(), Backend::starting);
    EXPECT_EQ(status(state).selfNode->id, first.account->nodeId);
    EXPECT_EQ(profiles(state).currentProfileId, first.id);
}

TEST(StandInStateProfiles, RefusesAnUnknownProfileWithoutChangingAnything) {
    auto state = makeState();
    logIn(state);
    const auto before = state.saved();
    EXPECT_FALSE(state.switchProfile("nope"));
    EXPECT_EQ(state.saved(), before);
    EXPECT_EQ(state.backend(), Backend::stopped);
}

TEST(StandInStateJail, ReportsTheBlockAndItsReasonUntilLifted) {
    auto state = makeState();
    state.jail("over \"quota\"");
    EXPECT_EQ(status(state).jailed, true);
    EXPECT_EQ(status(state).jailReason, "over \"quota\"");
    EXPECT_EQ(notification(state).jailed, true);
    EXPECT_EQ(notification(state).jailReason, "over \"quota\"");
    state.unjail();
    EXPECT_EQ(status(state).jailed, false);
    EXPECT_EQ(status(state).jailReason, std::nullopt);
    EXPECT_EQ(notification(state).jailReason, std::nullopt);
}

TEST(StandInStateNotification, CarriesANetworkMapConsistentWithTheStatus) {
    auto state = makeState();
    logIn(state);
    EXPECT_THAT(state.notificationJson(), HasSubstr(R"("State":2)"));
    const auto map = notification(state).netMap.value();
    const auto self = map.selfNode.value().node.value();
    const auto answer = status(state);
    EXPECT_EQ(self.id, answer.selfNode->id);
    ASSERT_TRUE(self.addresses);
    EXPECT_THAT(*self.addresses, ElementsAre(answer.tarnwickIps->at(0) + "/32",
                                             answer.tarnwickIps->at(1) + "/128"));
    EXPECT_THAT(self.name.value(), StartsWith("work-laptop.net"));
    EXPECT_THAT(self.name.value(), testing::EndsWith(".mesh.tarnwick.example."));
    EXPECT_EQ(map.dnsName, self.name);
    EXPECT_EQ(map.nodeKey, self.key);
    EXPECT_THAT(map.nodeKey.value(), StartsWith("nodekey:"));
    EXPECT_THAT(map.privateWgKey.value(), StartsWith("privkey:"));
    EXPECT_EQ(map.userProfiles.value().at(std::to_string(self.userID)).loginName,
              "user@example.com");

    std::set<std::int64_t> ids{self.id};
    ASSERT_FALSE(map.peers.value().empty());
    for (const auto& peer : *map.peers) {
        const auto node = peer.node.value();
        EXPECT_TRUE(ids.insert(node.id).second) << node.id;
        EXPECT_EQ(node.userID, self.userID);
        EXPECT_NE(node.addresses, self.addresses);
    }
}

TEST(StandInStateSaved, RestoresTheSameNodeWhateverTheSeed) {
    auto state = makeState();
    logIn(state);
    state.setWantRunning(true);
    state.finishStarting();
    StandInState restored({.hostName = "Work-Laptop.local", .seed = 99}, state.saved());
    EXPECT_EQ(restored.saved(), state.saved());
    EXPECT_EQ(restored.backend(), Backend::starting);
    restored.finishStarting();
    EXPECT_EQ(status(restored), status(state));
    EXPECT_EQ(notification(restored).netMap, notification(state).netMap);
}

TEST(StandInStateSaved, RepairsMissingProfilesAndAnUnknownCurrentProfile) {
    const auto empty = makeState("host", {.profiles = {}, .currentProfileId = "x"});
    EXPECT_EQ(empty.saved().profiles.size(), 1u);
    EXPECT_EQ(empty.saved().currentProfileId, empty.saved().profiles[0].id);

    const auto dangling = makeState("host", {.profiles = {{"a", "", {}}, {"b", "", {}}},
                                             .currentProfileId = "x"});
    EXPECT_EQ(dangling.saved().currentProfileId, "a");
}

TEST(StandInStateHostName, BecomesOneLowerCaseDnsLabel) {
    EXPECT_EQ(status(makeState("My_Box.example.org")).selfNode->hostName, "my-box");
    EXPECT_EQ(status(makeState("-Émile-")).selfNode->hostName, "mile");
    EXPECT_EQ(status(makeState("...")).selfNode->hostName, "tarnwick-host");
}

}  // namespace
}  // namespace tw
