#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <filesystem>
#include <thread>

#include "app/daemon/LocalAPIClient.h"
#include "app/daemon/PeltoBusModels.h"
#include "base/UnixSocket.h"
#include "devdaemon/LoginPageServer.h"
#include "devdaemon/StandInServer.h"
#include "devdaemon/StreamClient.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

constexpr auto kReplyPatience = 5s;  // only so that a broken test fails instead of hanging
constexpr std::string_view kStreamRequest =
    "GET /localapi/v0/observe-pelto-bus HTTP/1.1\r\nHost: local-tarnwickd.sock\r\n\r\n";
constexpr std::string_view kWantRunning = R"({"WantRunning":true,"WantRunningSet":true})";

// Reads what arrives on `fd` until the end of the connection or, with `until`, until it holds
// that text; empty on a timeout.
std::string receive(int fd, std::string_view until = {}) {
    std::string bytes;
    char chunk[4096];
    for (;;) {
        if (!until.empty() && bytes.find(until) != std::string::npos) return bytes;
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1,
                   static_cast<int>(std::chrono::milliseconds(kReplyPatience).count())) <= 0) {
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
    void start(std::size_t maxConnections = 128, std::chrono::milliseconds idleTimeout = 10s) {
        auto started = StandInServer::start(api_,
                                            {.socketPath = socketPath_,
                                             .maxConnections = maxConnections,
                                             .idleTimeout = idleTimeout},
                                            [](std::string_view) {});
        ASSERT_TRUE(started.has_value()) << started.error();
        server_ = std::move(*started);
    }

    bool waitForStreamCount(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + kReplyPatience;
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
    const auto response =
        roundTrip(socketPath_, LocalAPIClient::buildRequest("GET", "/localapi/v0/status", ""));
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

    const auto patched = roundTrip(
        socketPath_, LocalAPIClient::buildRequest("PATCH", "/localapi/v0/merrow", kWantRunning));
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

    roundTrip(socketPath_,
              LocalAPIClient::buildRequest("PATCH", "/localapi/v0/merrow", kWantRunning));
    EXPECT_EQ(staying.next().state, PeltoBusState::starting);
    EXPECT_THAT(
        roundTrip(socketPath_, LocalAPIClient::buildRequest("GET", "/localapi/v0/status", "")),
        StartsWith("HTTP/1.1 200 OK\r\n"));
}

TEST_F(StandInServerTest, CutsOffAStreamThatStopsReadingWithoutHoldingUpChanges) {
    start();
    Stream stalled(socketPath_);
    ASSERT_TRUE(waitForStreamCount(1));
    HttpRequest jail{.method = "POST",
                     .path = "/localapi/v0/dev/jail",
                     .query = {},
                     .body = {},
                     .peerIsPrivileged = true};
    const std::size_t reasonSize = 16 * 1024;
    for (std::size_t round = 0; round * reasonSize < 2 * StreamClient::kMaxBacklog; ++round) {
        jail.query["reason"] = std::string(reasonSize, round % 2 ? 'a' : 'b');
        ASSERT_EQ(api_.handle(jail).status, 200);
    }
    EXPECT_TRUE(waitForStreamCount(0));
    EXPECT_THAT(
        roundTrip(socketPath_, LocalAPIClient::buildRequest("GET", "/localapi/v0/status", "")),
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
    const auto refused =
        roundTrip(socketPath_, LocalAPIClient::buildRequest("GET", "/localapi/v0/status", ""));
    EXPECT_THAT(refused, StartsWith("HTTP/1.1 503 Service Unavailable\r\n"));
    EXPECT_THAT(bodyOf(refused), HasSubstr("too many connections"));
}

// Streams that never read and peers that trickle their request hold places of their own kind;
// status keeps being answered and the stream beyond the cap reads its 503.
TEST_F(StandInServerTest, KeepsAnsweringWhileStreamsIdleAndPeersTrickle) {
    start();
    std::vector<UniqueFd> held;
    for (int index = 0; index < 64; ++index) {
        held.push_back(connectTo(socketPath_));
        ASSERT_TRUE(UnixSocket::sendAll(held.back().get(), kStreamRequest));
    }
    ASSERT_TRUE(waitForStreamCount(64));
    for (int index = 0; index < 64; ++index) {
        held.push_back(connectTo(socketPath_));
        ASSERT_TRUE(UnixSocket::sendAll(held.back().get(), "GET /localapi/v0/status HTTP/1.1\r\n"));
    }
    const auto status =
        roundTrip(socketPath_, LocalAPIClient::buildRequest("GET", "/localapi/v0/status", ""));
    EXPECT_THAT(status, StartsWith("HTTP/1.1 200 OK\r\n"));
    const auto refused = roundTrip(socketPath_, kStreamRequest);
    EXPECT_THAT(refused, StartsWith("HTTP/1.1 503 Service Unavailable\r\n"));
    EXPECT_THAT(bodyOf(refused), HasSubstr("too many event streams"));
}

TEST_F(StandInServerTest, DropsARequestThatDoesNotArriveWholeInTime) {
    start(128, 300ms);
    const auto trickler = connectTo(socketPath_);
    ASSERT_TRUE(UnixSocket::sendAll(trickler.get(), "GET /localapi/v0/status HTTP/1.1\r\nX: "));
    // Each byte comes well within the deadline; the header line never ends.
    int sent = 0;
    while (sent < 200 && UnixSocket::sendAll(trickler.get(), "a")) {
        ++sent;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(sent, 200) << "the server kept reading a request that never ended";
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

// One request to the login page at `url` ("http://127.0.0.1:<port>/login/<token>"); the answer.
std::string pageExchange(const std::string& url, std::string_view method, std::string_view body) {
    const auto hostStart = url.find("//") + 2;
    const auto pathStart = url.find('/', hostStart);
    const auto colon = url.find(':', hostStart);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(
        std::stoi(url.substr(colon + 1, pathStart - colon - 1))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string request =
        std::string(method) + " " + url.substr(pathStart) +
        " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
    EXPECT_TRUE(UnixSocket::sendAll(fd.get(), request));
    return receive(fd.get());
}

// The browser's side of a login: the page the login URL opens, its form posted, and the node
// logged in as the account named there, as the event stream reports.
TEST(StandInLoginPage, LogsTheNodeInFromAPostedFormAndTheStreamReportsIt) {
    auto listener = LoginPageServer::listen(0);
    ASSERT_TRUE(listener.has_value()) << listener.error();
    StandInLocalAPI api(StandInState({.hostName = "box",
                                      .loginUrlBase = listener->loginUrlBase,
                                      .seed = 7}),
                        {.autoLoginAfter = std::nullopt, .startingFor = 0.01,
                         .stateFile = std::nullopt},
                        [](std::string_view) {});
    LoginPageServer page(api, std::move(*listener), [](std::string_view) {});
    TempDir dir;
    auto server = StandInServer::start(api, {.socketPath = dir.file("s")}, [](std::string_view) {});
    ASSERT_TRUE(server.has_value()) << server.error();
    Stream stream(dir.file("s"));
    EXPECT_EQ(stream.next().state, PeltoBusState::needsLogin);

    const auto started =
        roundTrip(dir.file("s"), LocalAPIClient::buildRequest("POST", "/localapi/v0/login", ""));
    const std::string url(stream.next().interactiveLoginUrl.value_or(""));
    ASSERT_THAT(bodyOf(started), HasSubstr(url));
    const auto form = pageExchange(url, "GET", "");
    EXPECT_THAT(form, StartsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html"));
    EXPECT_THAT(form, HasSubstr(R"(<form method="post">)"));
    EXPECT_THAT(form, HasSubstr(R"(value="user@example.com")"));
    EXPECT_THAT(form, HasSubstr("Log in</button>"));

    const auto done = pageExchange(url, "POST", "account=%3Cb%3E%22me%22%3C%2Fb%3E%40example.com");
    EXPECT_THAT(done, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(done, HasSubstr("Logged in as &lt;b&gt;&quot;me&quot;&lt;/b&gt;@example.com."));
    EXPECT_THAT(done, testing::Not(HasSubstr("<b>")));
    const auto loggedIn = stream.next();
    EXPECT_EQ(loggedIn.state, PeltoBusState::stopped);
    ASSERT_TRUE(loggedIn.netMap && loggedIn.netMap->userProfiles);
    ASSERT_EQ(loggedIn.netMap->userProfiles->size(), 1u);
    EXPECT_EQ(loggedIn.netMap->userProfiles->begin()->second.loginName, "<b>\"me\"</b>@example.com");

    EXPECT_THAT(pageExchange(url, "GET", ""), StartsWith("HTTP/1.1 404 Not Found\r\n"));
}

}  // namespace
}  // namespace tw
