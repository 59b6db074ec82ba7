#include "devdaemon/StandInServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/daemon/PeltoBusModels.h"
#include "base/UnixSocket.h"
#include "devdaemon/StreamClient.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

constexpr auto kPatience = 5s;  // only so that a broken test fails instead of hanging
constexpr std::string_view kStreamRequest =
    "GET /localapi/v0/observe-pelto-bus HTTP/1.1\r\nHost: local-tarnwickd.sock\r\n\r\n";
constexpr std::string_view kWantRunning = R"({"WantRunning":true,"WantRunningSet":true})";

std::string clientRequest(std::string_view method, std::string_view path, std::string_view body) {
    return std::string(method) + " " + std::string(path) +
           " HTTP/1.1\r\nHost: local-tarnwickd.sock\r\nContent-Length: " +
           std::to_string(body.size()) +
           "\r\nConnection: close\r\nContent-Type: application/json\r\n\r\n" + std::string(body);
}

// Reads what arrives on `fd` until the end of the connection or, with `until`, until it holds
// that text; empty on a timeout.
std::string receive(int fd, std::string_view until = {}) {
    std::string bytes;
    char chunk[4096];
    for (;;) {
        if (!until.empty() && bytes.find(until) != std::string::npos) return bytes;
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <=
            0) {
            ADD_FAILURE() << "nothing more arrived; so far: " << bytes;
            return {};
        }
        const auto n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return bytes;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
}

UniqueFd connectTo(const std::string& path) {
    auto fd = UnixSocket::connect(path);
    EXPECT_TRUE(fd.has_value());
    return fd ? std::move(*fd) : UniqueFd();
}

std::string roundTrip(const std::string& path, std::string_view bytes) {
    auto fd = connectTo(path);
    EXPECT_TRUE(UnixSocket::sendAll(fd.get(), bytes));
    return receive(fd.get());
}

std::string bodyOf(const std::string& response) {
    return response.substr(std::min(response.find("\r\n\r\n") + 4, response.size()));
}

// An open event stream, read a line at a time.
class Stream {
public:
    explicit Stream(const std::string& path) : fd_(connectTo(path)) {
        EXPECT_TRUE(UnixSocket::sendAll(fd_.get(), kStreamRequest));
        buffer_ = receive(fd_.get(), "\r\n\r\n");
        const auto end = buffer_.find("\r\n\r\n") + 4;
        header_ = buffer_.substr(0, end);
        buffer_.erase(0, end);
    }

    const std::string& header() const { return header_; }

    PeltoBusNotify next() {
        if (buffer_.find('\n') == std::string::npos) buffer_ += receive(fd_.get(), "\n");
        const auto end = buffer_.find('\n');
        const auto line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        auto decoded = PeltoBusNotify::decode(line);
        EXPECT_TRUE(decoded.has_value()) << line;
        return decoded.value_or(PeltoBusNotify{});
    }

    void close() { fd_.reset(); }
    int fd() const { return fd_.get(); }

private:
    UniqueFd fd_;
    std::string header_;
    std::string buffer_;
};

class StandInServerTest : public testing::Test {
protected:
    void start(std::size_t maxConnections = 64, std::chrono::milliseconds idleTimeout = 10s) {
        auto started = StandInServer::start(api_,
                                            {.socketPath = socketPath_,
                                             .maxConnections = maxConnections,
                                             .idleTimeout = idleTimeout},
                                            [](std::string_view) {});
        ASSERT_TRUE(started.has_value()) << started.error();
        server_ = std::move(*started);
    }

    bool waitForStreamCount(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (server_->streamCount() != count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    TempDir dir_;
    const std::string socketPath_ = dir_.file("s");
    StandInLocalAPI api_{
        StandInState(
            {.hostName = "box", .seed = 5},
            {.profiles = {{"p1", "user@example.com",
                           StandInProfile::Account{41, 42, "user@example.com", "User", "t1"}}},
             .currentProfileId = "p1",
             .wantRunning = false}),
        {.autoLoginAfter = 0.05, .startingFor = 0.01, .stateFile = std::nullopt},
        [](std::string_view) {}};
    std::unique_ptr<StandInServer> server_;
};

TEST_F(StandInServerTest, AnswersAStatusRequestWithAFramedJsonBody) {
    start();
    const auto response = roundTrip(socketPath_, clientRequest("GET", "/localapi/v0/status", ""));
    const auto body = bodyOf(response);
    EXPECT_EQ(response.substr(0, response.size() - body.size()),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n");
    const auto status = DaemonStatus::decode(body);
    ASSERT_TRUE(status.has_value()) << body;
    EXPECT_EQ(status->backendState, "Stopped");
    EXPECT_EQ(status->selfNode->id, 41);
}

TEST_F(StandInServerTest, StreamsTheCurrentStateAndThenEveryChange) {
    start();
    Stream stream(socketPath_);
    EXPECT_EQ(stream.header(), "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n");
    const auto first = stream.next();
    EXPECT_EQ(first.state, PeltoBusState::stopped);
    EXPECT_EQ(first.netMap->selfNode->node->id, 41);

    const auto patched =
        roundTrip(socketPath_, clientRequest("PATCH", "/localapi/v0/merrow", kWantRunning));
    EXPECT_THAT(patched, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(stream.next().state, PeltoBusState::starting);
    EXPECT_EQ(stream.next().state, PeltoBusState::running);
}

TEST_F(StandInServerTest, DropsAStreamWhoseReaderLeftAndKeepsServingTheOthers) {
    start();
    Stream leaving(socketPath_);
    leaving.next();
    Stream staying(socketPath_);
    staying.next();
    ASSERT_TRUE(waitForStreamCount(2));
    leaving.close();
    ASSERT_TRUE(waitForStreamCount(1));

    roundTrip(socketPath_, clientRequest("PATCH", "/localapi/v0/merrow", kWantRunning));
    EXPECT_EQ(staying.next().state, PeltoBusState::starting);
    EXPECT_THAT(roundTrip(socketPath_, clientRequest("GET", "/localapi/v0/status", "")),
                StartsWith("HTTP/1.1 200 OK\r\n"));
}

TEST_F(StandInServerTest, CutsOffAStreamThatStopsReadingWithoutHoldingUpChanges) {
    start();
    Stream stalled(socketPath_);
    ASSERT_TRUE(waitForStreamCount(1));
    HttpRequest jail{.method = "POST", .path = "/localapi/v0/dev/jail", .query = {}, .body = {}};
    const std::size_t reasonSize = 16 * 1024;
    for (std::size_t round = 0; round * reasonSize < 2 * StreamClient::kMaxBacklog; ++round) {
        jail.query["reason"] = std::string(reasonSize, round % 2 ? 'a' : 'b');
        ASSERT_EQ(api_.handle(jail).status, 200);
    }
    EXPECT_TRUE(waitForStreamCount(0));
    EXPECT_THAT(roundTrip(socketPath_, clientRequest("GET", "/localapi/v0/status", "")),
                StartsWith("HTTP/1.1 200 OK\r\n"));
}

TEST_F(StandInServerTest, RefusesBadRequestsAndDropsSilentClients) {
    start(64, 50ms);
    const auto bad = roundTrip(socketPath_, "GET /x HTTP/1.1\r\nContent-Length: zz\r\n\r\n");
    EXPECT_THAT(bad, StartsWith("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_THAT(bodyOf(bad), HasSubstr(R"({"error":"bad Content-Length"})"));
    EXPECT_EQ(roundTrip(socketPath_, ""), "");
    EXPECT_EQ(roundTrip(socketPath_, "GET /localapi/v0/status HTTP/1.1\r\n"), "");
}

TEST_F(StandInServerTest, AnswersServiceUnavailableBeyondTheConnectionLimit) {
    start(2);
    const auto first = connectTo(socketPath_);
    const auto second = connectTo(socketPath_);
    const auto refused = roundTrip(socketPath_, clientRequest("GET", "/localapi/v0/status", ""));
    EXPECT_THAT(refused, StartsWith("HTTP/1.1 503 Service Unavailable\r\n"));
    EXPECT_THAT(bodyOf(refused), HasSubstr("too many connections"));
}

TEST_F(StandInServerTest, StopsWithOpenConnectionsAndRemovesItsSocket) {
    start();
    Stream stream(socketPath_);
    stream.next();
    const auto idle = connectTo(socketPath_);
    server_.reset();
    EXPECT_FALSE(std::filesystem::exists(socketPath_));
    EXPECT_EQ(receive(stream.fd()), "");
    EXPECT_EQ(receive(idle.get()), "");
}

}  // namespace
}  // namespace tw
