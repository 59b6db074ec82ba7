#include "devdaemon/StandInLocalAPI.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "app/daemon/PeltoBusModels.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

constexpr auto kEventPatience = 5s;  // only so that a broken test fails instead of hanging

HttpRequest request(std::string_view method, std::string_view target, std::string_view body = "") {
    const auto bytes = std::string(method) + " " + std::string(target) +
                       " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                       std::string(body);
    return HttpRequest::parse(bytes).value().value();
}

HttpRequest fromRoot(HttpRequest request) {
    request.peerIsPrivileged = true;
    return request;
}

StandInState::Saved loggedIn(bool wantRunning) {
    return {.profiles = {{"p1", "user@example.com",
                          StandInProfile::Account{41, 42, "user@example.com", "User", "net1"}}},
            .currentProfileId = "p1",
            .wantRunning = wantRunning};
}

StandInLocalAPI makeAPI(StandInState::Saved saved = {},
                        std::optional<StandInStateFile> stateFile = std::nullopt) {
    return StandInLocalAPI(StandInState({.hostName = "box", .seed = 3}, std::move(saved)),
                           {.autoLoginAfter = 0.05, .startingFor = 0.01,
                            .stateFile = std::move(stateFile)},
                           [](std::string_view) {});
}

// Every notification a listener received, decoded by the client's decoder.
class Notifications {
public:
    StandInLocalAPI::Listener listener() {
        return [this](const std::string& line) {
            auto decoded = PeltoBusNotify::decode(line);
            EXPECT_TRUE(decoded.has_value()) << line;
            std::lock_guard lock(mutex_);
            received_.push_back(decoded.value_or(PeltoBusNotify{}));
            arrived_.notify_all();
        };
    }

    std::vector<PeltoBusNotify> all() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

    bool waitForState(PeltoBusState state) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, kEventPatience, [&] {
            return !received_.empty() && received_.back().state == state;
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<PeltoBusNotify> received_;
};

std::vector<std::optional<PeltoBusState>> states(const std::vector<PeltoBusNotify>& notifications) {
    std::vector<std::optional<PeltoBusState>> result;
    for (const auto& notification : notifications) result.push_back(notification.state);
    return result;
}

TEST(StandInLocalAPIRoutes, AnswersNotFoundForUnknownPathsAndWrongMethods) {
    auto api = makeAPI();
    for (const auto& [method, target] : {std::pair{"GET", "/localapi/v0/nothing"},
                                         std::pair{"POST", "/localapi/v0/status"},
                                         std::pair{"GET", "/localapi/v0/login"}}) {
        const auto response = api.handle(request(method, target));
        EXPECT_EQ(response.status, 404) << method << " " << target;
        EXPECT_EQ(response.body, R"({"error":"not found"})");
    }
    const auto status = api.handle(request("GET", "/localapi/v0/status?ignored=1"));
    EXPECT_EQ(status.status, 200);
    EXPECT_EQ(DaemonStatus::decode(status.body)->backendState, "NeedsLogin");
}

TEST(StandInLocalAPIRoutes, SwitchesToAPercentEncodedProfileIdAndRefusesUnknownOnes) {
    auto api = makeAPI(loggedIn(false));
    EXPECT_EQ(api.handle(request("POST", "/localapi/v0/profiles/switch-to-empty")).body, "{}");
    auto listed =
        ProfilesResponse::decode(api.handle(request("GET", "/localapi/v0/profiles")).body);
    ASSERT_EQ(listed->profiles.size(), 2u);
    EXPECT_NE(listed->currentProfileId, "p1");

    const auto switched = api.handle(request("POST", "/localapi/v0/profiles/switch?id=%70%31"));
    EXPECT_EQ(switched.status, 200);
    EXPECT_EQ(switched.body, "{}");
    listed = ProfilesResponse::decode(api.handle(request("GET", "/localapi/v0/profiles")).body);
    EXPECT_EQ(listed->currentProfileId, "p1");

    const auto unknown = api.handle(request("POST", "/localapi/v0/profiles/switch?id=zz"));
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body, R"({"error":"no such profile"})");
    EXPECT_EQ(api.handle(request("POST", "/localapi/v0/profiles/switch")).status, 400);
}

TEST(StandInLocalAPIRoutes, ChangesWantRunningOnlyForTheExpectedBody) {
    auto api = makeAPI(loggedIn(false));
    for (const auto body : {"", "nope", "{}", "[]", R"({"WantRunning":true})",
                            R"({"WantRunning":true,"WantRunningSet":false})",
                            R"({"WantRunning":"yes","WantRunningSet":true})"}) {
        EXPECT_EQ(api.handle(request("PATCH", "/localapi/v0/merrow", body)).status, 400) << body;
    }
    EXPECT_THAT(api.handle(request("GET", "/localapi/v0/status")).body, HasSubstr("Stopped"));
    const auto changed = api.handle(request(
        "PATCH", "/localapi/v0/merrow", R"({"WantRunning":true,"WantRunningSet":true,"X":1})"));
    EXPECT_EQ(changed.status, 200);
    EXPECT_THAT(changed.body, HasSubstr(R"("WantRunning":true)"));
}

TEST(StandInLocalAPIStream, FollowsALoginThatCompletesByItselfIntoRunning) {
    auto api = makeAPI();
    Notifications notifications;
    const auto subscription = api.observe(notifications.listener());
    api.handle(
        request("PATCH", "/localapi/v0/merrow", R"({"WantRunning":true,"WantRunningSet":true})"));
    const auto login = api.handle(request("POST", "/localapi/v0/login"));
    EXPECT_THAT(login.body,
                HasSubstr(R"({"interactive_login_url":"https://login.tarnwick.example/a/)"));

    ASSERT_TRUE(notifications.waitForState(PeltoBusState::running));
    const auto received = notifications.all();
    EXPECT_EQ(states(received), (std::vector<std::optional<PeltoBusState>>{
                                    PeltoBusState::needsLogin, PeltoBusState::needsLogin,
                                    PeltoBusState::running}));
    EXPECT_EQ(received[0].interactiveLoginUrl, std::nullopt);
    EXPECT_THAT(login.body, HasSubstr(received[1].interactiveLoginUrl.value()));
    EXPECT_TRUE(received[2].netMap.has_value());
    EXPECT_EQ(received[2].interactiveLoginUrl, std::nullopt);
}

TEST(StandInLocalAPIStream, NotifiesOnlyChangesAndStopsWithTheSubscription) {
    auto api = makeAPI();
    Notifications notifications;
    auto subscription = api.observe(notifications.listener());
    api.handle(request("GET", "/localapi/v0/status"));
    EXPECT_EQ(api.handle(request("POST", "/localapi/v0/dev/jail?reason=user")).status, 403);
    api.handle(fromRoot(request("POST", "/localapi/v0/dev/jail?reason=policy")));
    api.handle(fromRoot(request("POST", "/localapi/v0/dev/jail?reason=policy")));
    api.handle(
        request("PATCH", "/localapi/v0/merrow", R"({"WantRunning":true,"WantRunningSet":true})"));
    ASSERT_EQ(notifications.all().size(), 2u);
    EXPECT_EQ(notifications.all()[1].jailReason, "policy");

    subscription.reset();
    api.handle(fromRoot(request("POST", "/localapi/v0/dev/unjail")));
    EXPECT_EQ(notifications.all().size(), 2u);
}

TEST(StandInLocalAPIStream, ReshapesTheNetworkMapForRootOnly) {
    auto api = makeAPI(loggedIn(true));
    Notifications notifications;
    auto subscription = api.observe(notifications.listener());
    EXPECT_EQ(api.handle(request("POST", "/localapi/v0/dev/netmap?host=big&peers=5")).status, 403);
    for (const auto* bad : {"host=&peers=5", "host=big&peers=5x", "host=big&peers=100001"}) {
        EXPECT_EQ(
            api.handle(fromRoot(request("POST", "/localapi/v0/dev/netmap?" + std::string(bad))))
                .status,
            400)
            << bad;
    }
    api.handle(fromRoot(request("POST", "/localapi/v0/dev/netmap?host=big&peers=2000")));

    const auto received = notifications.all();
    ASSERT_EQ(received.size(), 2u);  // the refused requests changed nothing
    const auto& map = received.back().netMap;
    ASSERT_TRUE(map && map->peers);
    EXPECT_EQ(map->peers->size(), 2000u);
    EXPECT_THAT(map->dnsName.value_or(""), ::testing::StartsWith("big."));
}

TEST(StandInLocalAPIStateFile, SavesEachChangeAndResumesRunningAfterARestart) {
    TempDir dir;
    const StandInStateFile file(dir.file("state.json"));
    {
        auto api = makeAPI(loggedIn(false), file);
        api.handle(request("PATCH", "/localapi/v0/merrow",
                           R"({"WantRunning":true,"WantRunningSet":true})"));
    }
    const auto saved = file.load();
    ASSERT_TRUE(saved.has_value()) << saved.error();
    EXPECT_EQ(*saved, loggedIn(true));

    auto restarted = makeAPI(*saved, file);
    Notifications notifications;
    const auto subscription = restarted.observe(notifications.listener());
    // Without the start delay armed on the restored state it would stay Starting for good.
    EXPECT_TRUE(notifications.waitForState(PeltoBusState::running));
}

}  // namespace
}  // namespace tw
