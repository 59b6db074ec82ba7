#include "app/daemon/PeltoBusClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>

#include "base/UnixSocket.h"
#include "base/WorkerPool.h"
#include "tests/support/FakeDaemon.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using Reply = FakeDaemon::Reply;
using namespace std::chrono_literals;

constexpr auto kHeader = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";

class RecordingDelegate final : public PeltoBusClientDelegate {
public:
    void peltoBusDidConnect() override { events.push_back("connect"); }
    void peltoBusDidDisconnect(const std::optional<std::string>& error) override {
        events.push_back(error ? "disconnect:" + *error : "disconnect");
    }
    void peltoBusDidReceiveNotify(const PeltoBusNotify& notify) override {
        events.push_back("notify:" + std::string(notify.version.value_or("-")));
    }
    std::vector<std::string> events;
};

class PeltoBusClientTest : public ::testing::Test {
protected:
    PeltoBusClientTest() : daemon_(dir_.file("d.sock")) {}

    ~PeltoBusClientTest() override {
        if (client_) client_->stop();
        client_.reset();
    }

    void startClient(PeltoBusClient::Options options = quickOptions()) {
        client_ = std::make_unique<PeltoBusClient>(daemon_.socketPath(), log_.logger(), main_,
                                                   pool_, options);
        client_->setDelegate(delegate_);
        client_->start();
    }

    static PeltoBusClient::Options quickOptions() {
        PeltoBusClient::Options options;
        options.reconnectDelaySeconds = 0.05;
        options.logoutTimeout = 300ms;
        return options;
    }

    static std::string line(const std::string& version) {
        return R"({"Version":")" + version + R"(","State":4})" "\n";
    }

    bool waitForEvents(std::size_t count) {
        return main_->runUntil([&] { return delegate_->events.size() >= count; });
    }

    std::vector<std::string> events() const { return delegate_->events; }

    // A connection that sends `endless` without a line feed is dropped past the limit, and the
    // next connection works.
    void expectCutOffAndReconnect(const std::string& endless) {
        daemon_.enqueue(Reply().send(endless).hold());
        daemon_.enqueue(Reply().send(kHeader + line("after")).hold());
        auto options = quickOptions();
        options.maxPendingBytes = 4096;
        startClient(options);
        ASSERT_TRUE(waitForEvents(4));
        EXPECT_THAT(events(), ElementsAre("connect", "disconnect", "connect", "notify:after"));
        EXPECT_THAT(log_.records(), Contains(StartsWith("[PeltoBus] Stream line too long (")));
    }

    TempDir dir_;
    TestLogger log_;
    FakeDaemon daemon_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<WorkerPool> pool_ = std::make_shared<WorkerPool>(2);
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::unique_ptr<PeltoBusClient> client_;
};

TEST_F(PeltoBusClientTest, DeliversConnectThenNotificationsInOrderThenDisconnect) {
    daemon_.enqueue(Reply().send(kHeader + line("1") + line("2") + line("3")));
    daemon_.enqueue(Reply().hold());
    startClient();
    ASSERT_TRUE(waitForEvents(5));
    EXPECT_THAT(events(), ElementsAre("connect", "notify:1", "notify:2", "notify:3", "disconnect"));
    EXPECT_EQ(daemon_.requests().front().bytes, PeltoBusClient::kStreamRequest);
    EXPECT_EQ(PeltoBusClient::kStreamRequest.size(), 75u);
    EXPECT_TRUE(log_.waitFor("[PeltoBus] EOF"));
}

TEST_F(PeltoBusClientTest, ReassemblesHeaderAndLinesThatArriveInPieces) {
    const std::string two = line("2");
    daemon_.enqueue(Reply()
                        .send("HTTP/1.1 200 OK\r\n\r")
                        .pause(20ms)
                        .send("\n" + line("1").substr(0, 5))
                        .pause(20ms)
                        .send(line("1").substr(5) + two.substr(0, two.size() - 1))
                        .pause(20ms)
                        .send("\n" + line("3") + line("4"))
                        .hold());
    startClient();
    ASSERT_TRUE(waitForEvents(5));
    EXPECT_THAT(events(), ElementsAre("connect", "notify:1", "notify:2", "notify:3", "notify:4"));
}

TEST_F(PeltoBusClientTest, DropsLinesThatAreNotNotificationsWithoutATrace) {
    daemon_.enqueue(Reply()
                        .send(kHeader + line("1") + "\n" + "\r\n" + "1a3\r\n" +
                              R"({"Version":"bad","State":true})" "\n" +
                              R"({"Version":"crlf","State":"Running"})" "\r\n" + line("2"))
                        .hold());
    startClient();
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_THAT(events(), ElementsAre("connect", "notify:1", "notify:crlf", "notify:2"));
    EXPECT_THAT(log_.records(), ElementsAre("[PeltoBus] Connected to socket"));
}

TEST_F(PeltoBusClientTest, ReconnectsAfterTheDaemonGoesAwayAndComesBack) {
    // The first connection ends in the middle of a line; nothing of it may reach the next one.
    daemon_.enqueue(Reply().send(kHeader + line("1") + R"({"Version":"par)"));
    startClient();
    ASSERT_TRUE(waitForEvents(3));
    daemon_.stop();
    ASSERT_TRUE(log_.waitFor("[PeltoBus] Connection failed, retrying in 3s...", 2));

    daemon_.enqueue(Reply().send(kHeader + line("2")).hold());
    daemon_.start();
    ASSERT_TRUE(main_->runUntil([&] { return !events().empty() && events().back() == "notify:2"; }));
    std::vector<std::string> notifications;
    for (const auto& event : events()) {
        if (event.starts_with("notify")) notifications.push_back(event);
    }
    EXPECT_THAT(notifications, ElementsAre("notify:1", "notify:2"));
    EXPECT_EQ(events()[events().size() - 2], "connect");
}

TEST_F(PeltoBusClientTest, StartingTwiceOpensOneStream) {
    daemon_.enqueue(Reply().send(kHeader).hold());
    startClient();
    client_->start();
    ASSERT_TRUE(waitForEvents(1));
    main_->runUntil([] { return false; }, 100ms);
    EXPECT_EQ(daemon_.connectionCount(), 1u);
}

TEST_F(PeltoBusClientTest, StopEndsABlockedReadAtOnceWithoutReconnecting) {
    daemon_.enqueue(Reply().send(kHeader).hold());
    auto options = quickOptions();
    options.reconnectDelaySeconds = 60;
    startClient(options);
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_TRUE(daemon_.waitForConnections(1));
    client_->stop();
    ASSERT_TRUE(waitForEvents(2));
    client_.reset();  // joins the loop: hangs if the read or the pause did not end
    EXPECT_THAT(events(), ElementsAre("connect", "disconnect"));
    EXPECT_EQ(daemon_.connectionCount(), 1u);
    EXPECT_THAT(log_.records(), ElementsAre("[PeltoBus] Connected to socket"));
}

TEST_F(PeltoBusClientTest, AConnectToADaemonThatNeverAcceptsIsBoundedSoStopEnds) {
    const auto path = dir_.file("full.sock");
    auto listener = UnixSocket::listen(path, 0);
    ASSERT_TRUE(listener);
    // Fills the listen queue: a blocking connect now waits until the daemon accepts.
    const auto address = *UnixSocket::address(path);
    std::vector<UniqueFd> queued;
    for (int i = 0; i < 64; ++i) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) break;
        queued.push_back(std::move(fd));
    }
    auto options = quickOptions();
    options.reconnectDelaySeconds = 60;
    options.connectTimeout = 200ms;
    client_ = std::make_unique<PeltoBusClient>(path, log_.logger(), main_, pool_, options);
    client_->start();
    ASSERT_TRUE(log_.waitFor("[PeltoBus] Connection failed, retrying in 3s..."));
    client_->stop();
    client_.reset();
    EXPECT_TRUE(events().empty());
}

TEST_F(PeltoBusClientTest, StopDuringThePauseEndsTheLoopWithoutAnotherConnect) {
    daemon_.stop();
    auto options = quickOptions();
    options.reconnectDelaySeconds = 60;
    startClient(options);
    ASSERT_TRUE(log_.waitFor("[PeltoBus] Connection failed, retrying in 3s..."));
    client_->stop();
    client_.reset();
    EXPECT_EQ(log_.count("[PeltoBus] Connection failed, retrying in 3s..."), 1u);
    EXPECT_TRUE(events().empty());
}

TEST_F(PeltoBusClientTest, ALineThatNeverEndsIsCutOffAndTheStreamReconnects) {
    expectCutOffAndReconnect(kHeader + std::string(8192, 'x'));
}

TEST_F(PeltoBusClientTest, AHeaderThatNeverEndsIsCutOffToo) {
    expectCutOffAndReconnect("HTTP/1.1 200 OK\r\n" + std::string(8192, 'h'));
}

TEST_F(PeltoBusClientTest, CarriesALargeNetworkMapLineWholeAndGoesOnAfterGivingItsBuffersBack) {
    std::string peers;
    for (int i = 0; i < 40000; ++i) {
        peers += (i ? "," : "") + std::string(R"({"Node":{"ID":)") + std::to_string(i) +
                 R"(,"UserID":1,"Name":"peer-)" + std::to_string(i) + R"("}})";
    }
    const std::string big = R"({"Version":"big","NetMap":{"Peers":[)" + peers + "]}}\n";
    ASSERT_GT(big.size(), PeltoBusNotify::kKeptCapacity);
    // Quiet after the map for longer than the client waits before it gives the buffers back.
    daemon_.enqueue(Reply().send(kHeader + big).pause(200ms).send(line("next")).hold());
    auto options = quickOptions();
    options.quietBeforeRelease = 20ms;
    startClient(options);
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_THAT(events(), ElementsAre("connect", "notify:big", "notify:next"));
}

TEST_F(PeltoBusClientTest, CallbacksStopOnceTheDelegateIsGone) {
    daemon_.enqueue(Reply().send(kHeader + line("1")).hold());
    startClient();
    ASSERT_TRUE(daemon_.waitForConnections(1));
    delegate_.reset();
    main_->runUntil([] { return false; }, 100ms);  // runs the callbacks; they must do nothing
}

TEST_F(PeltoBusClientTest, LogoutWithoutADaemonLogsThatTheSocketCouldNotBeOpened) {
    daemon_.stop();
    startClient();
    client_->logout();
    EXPECT_TRUE(log_.waitFor("[PeltoBus] Logout failed: Could not open socket"));
}

TEST_F(PeltoBusClientTest, LogoutSendsItsRequestAndLogsTheAnswer) {
    daemon_.setHandler([](const FakeDaemon::Request& request) {
        return request.path == "/localapi/v0/logout" ? Reply::http(200, "{}") : Reply().hold();
    });
    startClient();
    client_->logout();
    EXPECT_TRUE(log_.waitFor("[PeltoBus] Logout request sent, bytes: 65"));
    EXPECT_TRUE(log_.waitFor("[PeltoBus] Logout response: HTTP/1.1 200 OK\r\n\r\n{}"));
    const auto requests = daemon_.requests();
    const auto logout = std::find_if(requests.begin(), requests.end(), [](const auto& request) {
        return request.path == "/localapi/v0/logout";
    });
    ASSERT_NE(logout, requests.end());
    EXPECT_EQ(logout->bytes, PeltoBusClient::kLogoutRequest);
}

TEST_F(PeltoBusClientTest, LogoutReadsOnlyTheFirstKibibyte) {
    daemon_.setHandler([](const FakeDaemon::Request&) { return Reply().send(std::string(5000, 'a')); });
    startClient();
    client_->logout();
    EXPECT_TRUE(log_.waitFor("[PeltoBus] Logout response: " + std::string(1024, 'a')));
}

TEST_F(PeltoBusClientTest, LogoutGivesUpOnADaemonThatNeverAnswers) {
    daemon_.setHandler([](const FakeDaemon::Request&) { return Reply().hold(); });
    startClient();
    client_->logout();
    EXPECT_TRUE(log_.waitFor("[PeltoBus] Logout response empty or error"));
}

}  // namespace
}  // namespace tw
