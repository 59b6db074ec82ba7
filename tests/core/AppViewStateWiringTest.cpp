#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/core/AppViewState.h"
#include "app/daemon/LocalAPIClient.h"
#include "app/daemon/PeltoBusClient.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/WorkerPool.h"
#include "tests/support/FakeDaemon.h"
#include "tests/support/FakeVpnPlatform.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using Reply = FakeDaemon::Reply;

constexpr auto kStream =
    "HTTP/1.1 200 OK\r\n\r\n"
    R"({"State":1,"InteractiveLoginUrl":"https://login.example/x"})" "\n"
    R"({"State":4,"NetMap":{"SelfNode":{"Node":{"ID":5,"Name":"desk","Addresses":["100.64.0.5"],"UserID":9}},)"
    R"("UserProfiles":{"9":{"LoginName":"ann@example.com","DisplayName":"Ann"}}}})" "\n";

// The model with the real daemon clients, against the fake daemon's socket.
TEST(AppViewStateWiring, AStreamThatLogsInEndsConnectedThroughTheRealClients) {
    TempDir dir;
    std::ofstream(dir.file("Info.json")) << R"({"CFBundleIdentifier":"com.tarnwick.desktop"})";
    FakeDaemon daemon(dir.file("d.sock"));
    daemon.setHandler([](const FakeDaemon::Request& request) {
        if (request.path == "/localapi/v0/observe-pelto-bus") return Reply().send(kStream).hold();
        if (request.path == "/localapi/v0/profiles") {
            return Reply::http(200, R"({"current_profile_id":"p1","profiles":[)"
                                    R"({"id":"p1","name":"Ann","user_email":"ann@example.com","is_current":true}]})");
        }
        return Reply::http(200, "{}");
    });

    TestLogger log;
    auto main = std::make_shared<ManualMainQueue>();
    auto pool = std::make_shared<WorkerPool>(4);
    auto vpnPlatform = std::make_shared<FakeVpnPlatform>();
    vpnPlatform->answerFromOtherThread = true;
    auto tunnel = VPNTunnelService::create(main, log.logger(), vpnPlatform, Bundle(dir.path()));
    auto stream = std::make_shared<PeltoBusClient>(daemon.socketPath(), log.logger(), main, pool);
    auto model = AppViewState::create({main, log.logger(),
                                       std::make_shared<LocalAPIClient>(daemon.socketPath(), log.logger(), pool),
                                       stream, tunnel, [] { return true; }, {}, {}});
    model->start();

    const auto started = [&] { return !vpnPlatform->saved().empty() && vpnPlatform->saved()[0]->starts == 1; };
    ASSERT_TRUE(main->runUntil([&] { return started() && model->currentProfileId().get() == "p1"; },
                               std::chrono::seconds(10)));
    ASSERT_TRUE(log.waitFor("[State] daemon WantRunning=true"));
    EXPECT_TRUE(model->login().get().isLoggedIn);
    EXPECT_EQ(model->login().get().hostName, "desk");
    EXPECT_EQ(model->login().get().userName, "Ann");
    EXPECT_EQ(model->login().get().interactiveLoginUrl, "");
    EXPECT_EQ(model->currentBackendState(), PeltoBusState::running);

    std::vector<std::string> paths;
    for (const auto& request : daemon.requests()) paths.push_back(request.method + " " + request.path);
    EXPECT_THAT(paths, ::testing::Contains("PATCH /localapi/v0/merrow"));
    EXPECT_THAT(paths, ::testing::Contains("GET /localapi/v0/profiles"));
    stream->stop();
}

}  // namespace
}  // namespace tw
