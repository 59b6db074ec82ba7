#include "app/daemon/LocalAPIClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "base/UnixSocket.h"
#include "base/WorkerPool.h"
#include "tests/support/FakeDaemon.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using Reply = FakeDaemon::Reply;
using Kind = LocalAPIError::Kind;

constexpr auto kStatusRequest =
    "GET /localapi/v0/status HTTP/1.1\r\nHost: local-tarnwickd.sock\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";

class LocalAPIClientTest : public ::testing::Test {
protected:
    LocalAPIClientTest() : daemon_(dir_.file("d.sock")) { client_ = makeClient(daemon_.socketPath()); }

    ~LocalAPIClientTest() override {
        // Joining the pool proves that no completion is still to come.
        client_.reset();
        pool_.reset();
        EXPECT_EQ(completions_.load(), expectedCompletions_);
    }

    std::shared_ptr<LocalAPIClient> makeClient(const std::string& path) {
        return std::make_shared<LocalAPIClient>(path, log_.logger(), pool_,
                                                std::chrono::milliseconds(300));
    }

    // Runs one operation and waits for its completion.
    template <typename T, typename Call>
    std::expected<T, LocalAPIError> await(Call call) {
        ++expectedCompletions_;
        auto promise = std::make_shared<std::promise<std::expected<T, LocalAPIError>>>();
        auto future = promise->get_future();
        call([this, promise](std::expected<T, LocalAPIError> result) {
            ++completions_;
            promise->set_value(std::move(result));
        });
        return future.get();
    }

    std::expected<DaemonStatus, LocalAPIError> status() {
        return await<DaemonStatus>([&](auto done) { client_->getStatus(std::move(done)); });
    }

    std::string lastRequest() const {
        auto requests = daemon_.requests();
        return requests.empty() ? std::string() : requests.back().bytes;
    }

    TempDir dir_;
    TestLogger log_;
    FakeDaemon daemon_;
    std::shared_ptr<WorkerPool> pool_ = std::make_shared<WorkerPool>(4);
    std::shared_ptr<LocalAPIClient> client_;
    std::atomic<int> completions_{0};
    int expectedCompletions_ = 0;
};

TEST_F(LocalAPIClientTest, SendsEachOperationsRequestByteForByte) {
    daemon_.setHandler([](const FakeDaemon::Request&) {
        return Reply::http(200, R"({"current_profile_id":"a","interactive_login_url":"https://l"})");
    });
    const std::string head = " HTTP/1.1\r\nHost: local-tarnwickd.sock\r\n";
    const std::string bodiless = "Content-Length: 0\r\nConnection: close\r\n\r\n";

    ASSERT_TRUE(status());
    EXPECT_EQ(lastRequest(), kStatusRequest);

    ASSERT_TRUE(await<ProfilesResponse>([&](auto done) { client_->getProfiles(std::move(done)); }));
    EXPECT_EQ(lastRequest(), "GET /localapi/v0/profiles" + head + bodiless);

    ASSERT_TRUE(await<void>([&](auto done) { client_->switchProfile("a b&c=d/é", std::move(done)); }));
    EXPECT_EQ(lastRequest(), "POST /localapi/v0/profiles/switch?id=a%20b&c=d/%C3%A9" + head + bodiless);

    ASSERT_TRUE(await<void>([&](auto done) { client_->switchToEmptyProfile(std::move(done)); }));
    EXPECT_EQ(lastRequest(), "POST /localapi/v0/profiles/switch-to-empty" + head + bodiless);

    ASSERT_TRUE(await<void>([&](auto done) { client_->setWantRunning(true, std::move(done)); }));
    EXPECT_EQ(lastRequest(), "PATCH /localapi/v0/merrow" + head +
                                 "Content-Length: 42\r\nConnection: close\r\n"
                                 "Content-Type: application/json\r\n\r\n"
                                 R"({"WantRunning":true,"WantRunningSet":true})");

    ASSERT_TRUE(await<void>([&](auto done) { client_->setWantRunning(false, std::move(done)); }));
    EXPECT_EQ(lastRequest(), "PATCH /localapi/v0/merrow" + head +
                                 "Content-Length: 43\r\nConnection: close\r\n"
                                 "Content-Type: application/json\r\n\r\n"
                                 R"({"WantRunning":false,"WantRunningSet":true})");

    const std::string login =
        "POST /localapi/v0/login HTTP/1.1\r\nHost: local-tarnwickd.sock\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n";
    ASSERT_EQ(login.size(), 102u);
    ASSERT_TRUE(await<std::string>([&](auto done) { client_->startLogin(std::move(done)); }));
    EXPECT_EQ(lastRequest(), login);
    ASSERT_TRUE(await<void>([&](auto done) { client_->triggerLogin(std::move(done)); }));
    EXPECT_EQ(lastRequest(), login);
}

TEST(LocalAPIClientEncoding, KeepsQueryCharactersAndEncodesEverythingElse) {
    EXPECT_EQ(LocalAPIClient::encodeQueryValue("azAZ09-._~!$&'()*+,;=:/?@"),
              "azAZ09-._~!$&'()*+,;=:/?@");
    EXPECT_EQ(LocalAPIClient::encodeQueryValue(" #%[]\"<>\\^`{|}"),
              "%20%23%25%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D");
    EXPECT_EQ(LocalAPIClient::encodeQueryValue(std::string("\x00\x7F\xFF", 3)), "%00%7F%FF");
}

TEST_F(LocalAPIClientTest, DecodesAStatusBehindAMinimalHeader) {
    daemon_.enqueue(Reply().send("HTTP/1.1 200 OK\r\n\r\n{\"backend_state\":\"Running\"}"));
    auto result = status();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->backendState, "Running");
    EXPECT_TRUE(log_.records().empty());
}

TEST_F(LocalAPIClientTest, ReportsAnErrorStatusWithItsBodyAndLogsIt) {
    daemon_.enqueue(Reply::http(404, R"({"backend_state":"Running"})"));
    auto result = status();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), LocalAPIError::httpError(404, R"({"backend_state":"Running"})"));
    log_.logger()->waitUntilWritten();
    EXPECT_EQ(log_.records(), std::vector<std::string>{
                                  "[LocalAPI] HTTP error 404 for GET /localapi/v0/status: "
                                  R"({"backend_state":"Running"})"});
}

TEST_F(LocalAPIClientTest, AnErrorBodyThatIsNotUtf8BecomesEmpty) {
    daemon_.enqueue(Reply::http(500, "\xFF\xFE"));
    auto result = status();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), LocalAPIError::httpError(500, ""));
}

TEST_F(LocalAPIClientTest, AcceptsEveryStatusLineThatIsNotAnErrorCode) {
    for (const char* line : {"HTTP/1.1 399 Whatever", "HTTP/1.1", "HTTP/1.1 abc Bad", "HTTP/1.1 4x4",
                             "  HTTP/1.1   200   OK  ", "HTTP/1.1 99999999999999999999999 Huge"}) {
        daemon_.enqueue(Reply().send(std::string(line) + "\r\nX: y\r\n\r\n{}"));
        EXPECT_TRUE(status()) << line;
    }
    daemon_.enqueue(Reply().send("HTTP/1.1    400\r\n\r\n{}"));
    ASSERT_FALSE(status());
}

TEST_F(LocalAPIClientTest, ADaemonThatClosesAtOnceIsABadResponse) {
    daemon_.enqueue(Reply::closeAtOnce());
    auto result = status();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), Kind::badHTTPResponse);
}

TEST_F(LocalAPIClientTest, ADaemonThatClosesWithoutReadingFailsTheExchangeWithoutASignal) {
    // Depending on whether the close comes before or after the request is written, the write
    // fails (EPIPE, which must not raise SIGPIPE) or the read does (ECONNRESET).
    daemon_.enqueue(Reply::closeAtOnce().withoutReadingRequest());
    const auto error = status().error();
    EXPECT_TRUE(error == LocalAPIError::readFailed("Connection reset by peer") ||
                error == LocalAPIError::writeFailed("Broken pipe"))
        << error.description();
}

TEST_F(LocalAPIClientTest, AResponseWithoutTheBlankLineIsABadResponse) {
    daemon_.enqueue(Reply().send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n{}"));
    EXPECT_EQ(status().error().kind(), Kind::badHTTPResponse);
}

TEST_F(LocalAPIClientTest, ABodyThatIsNotAnObjectFailsToDecode) {
    daemon_.enqueue(Reply::http(200, "[1]"));
    EXPECT_EQ(status().error(), LocalAPIError::decodeFailed());
}

// A response of `size` bytes: a minimal header and a status object padded with spaces, so that it
// decodes only when every byte was read.
std::string responseOfSize(std::size_t size) {
    const std::string head = "HTTP/1.1 200 OK\r\n\r\n{\"backend_state\":\"Running\"";
    return head + std::string(size - head.size() - 1, ' ') + "}";
}

TEST_F(LocalAPIClientTest, ReadsAResponseOfExactlyOneMebibyteWithoutComplaint) {
    daemon_.enqueue(Reply().send(responseOfSize(1024 * 1024)));
    auto result = status();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->backendState, "Running");
    log_.logger()->waitUntilWritten();
    EXPECT_TRUE(log_.records().empty());
}

TEST_F(LocalAPIClientTest, OneByteMoreIsLoggedAndStillProcessedWhole) {
    daemon_.enqueue(Reply().send(responseOfSize(1024 * 1024 + 1)));
    auto result = status();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->backendState, "Running");
    EXPECT_EQ(log_.records(),
              std::vector<std::string>{"[LocalAPI] Response too large (1048577 bytes), truncating"});
}

TEST_F(LocalAPIClientTest, StopsReadingAtTheCapAndLeavesTheRestUnread) {
    // The daemon keeps the connection open after the first two MiB; a client that read on would
    // wait for it and time out.
    daemon_.enqueue(Reply().send(responseOfSize(2 * 1024 * 1024)).hold());
    auto result = status();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), Kind::decodeFailed);
    ASSERT_EQ(log_.records().size(), 1u);
    EXPECT_THAT(log_.records()[0], StartsWith("[LocalAPI] Response too large ("));
}

TEST_F(LocalAPIClientTest, ADaemonThatNeverAnswersFailsTheReadAfterTheInactivityLimit) {
    daemon_.enqueue(Reply().hold());
    auto result = status();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), LocalAPIError::readFailed("Connection timed out"));
}

TEST_F(LocalAPIClientTest, ADaemonThatTricklesItsAnswerFailsAtTheExchangesDeadline) {
    Reply trickle;
    trickle.send("HTTP/1.1 200 OK\r\n\r\n");
    for (int i = 0; i < 20; ++i) trickle.pause(std::chrono::milliseconds(100)).send(" ");
    daemon_.enqueue(trickle);
    auto result = status();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), LocalAPIError::readFailed("Connection timed out"));
}

TEST_F(LocalAPIClientTest, ADaemonThatPausesBetweenPiecesIsReadToTheEnd) {
    daemon_.enqueue(Reply()
                        .send("HTTP/1.1 200 OK\r")
                        .pause(std::chrono::milliseconds(50))
                        .send("\n\r\n{\"backend_state\":")
                        .pause(std::chrono::milliseconds(50))
                        .send("\"Stopped\"}"));
    auto result = status();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->backendState, "Stopped");
}

TEST_F(LocalAPIClientTest, WithNoSocketFileTheConnectFails) {
    auto missing = makeClient(dir_.file("missing.sock"));
    auto result = await<DaemonStatus>([&](auto done) { missing->getStatus(std::move(done)); });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description(),
              "Failed to connect to tarnwickd socket: No such file or directory");
}

TEST_F(LocalAPIClientTest, WithNoDaemonListeningTheConnectIsRefused) {
    daemon_.stop();
    auto stale = UnixSocket::listen(dir_.file("stale.sock"));
    ASSERT_TRUE(stale);
    stale->reset();  // the socket file stays, with nobody listening
    auto refused = makeClient(dir_.file("stale.sock"));
    auto result = await<DaemonStatus>([&](auto done) { refused->getStatus(std::move(done)); });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), LocalAPIError::connectFailed("Connection refused"));
}

TEST_F(LocalAPIClientTest, AcceptsASocketPathOf103BytesAndRefuses104) {
    const std::string prefix = dir_.file("");
    const std::string path103 = prefix + std::string(103 - prefix.size(), 's');
    ASSERT_EQ(path103.size(), 103u);
    FakeDaemon longPathDaemon(path103);
    longPathDaemon.enqueue(Reply::http(200, "{}"));
    auto accepted = makeClient(path103);
    EXPECT_TRUE(await<DaemonStatus>([&](auto done) { accepted->getStatus(std::move(done)); }));

    auto refused = makeClient(path103 + "x");
    auto result = await<void>([&](auto done) { refused->setWantRunning(true, std::move(done)); });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), LocalAPIError::socketPathTooLong());
}

TEST_F(LocalAPIClientTest, LogsTheReasonWhenTheProfilesDoNotDecode) {
    daemon_.enqueue(Reply::http(200, R"({"profiles":[]})"));
    auto result = await<ProfilesResponse>([&](auto done) { client_->getProfiles(std::move(done)); });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), LocalAPIError::decodeFailed());
    ASSERT_EQ(log_.records().size(), 1u);
    EXPECT_THAT(log_.records()[0], StartsWith("[LocalAPI] Failed to decode profiles response: "));
    EXPECT_THAT(log_.records()[0], HasSubstr("current_profile_id"));
}

TEST_F(LocalAPIClientTest, OperationsWithoutAValueIgnoreTheBodyButNotTheStatus) {
    daemon_.enqueue(Reply::http(200, "not json at all"));
    EXPECT_TRUE(await<void>([&](auto done) { client_->switchProfile("p", std::move(done)); }));
    daemon_.enqueue(Reply::http(403, "denied"));
    auto result = await<void>([&](auto done) { client_->switchToEmptyProfile(std::move(done)); });
    EXPECT_EQ(result.error(), LocalAPIError::httpError(403, "denied"));
    daemon_.enqueue(Reply::http(500, "{\"interactive_login_url\":\"https://l\"}"));
    EXPECT_EQ(await<void>([&](auto done) { client_->triggerLogin(std::move(done)); }).error().kind(),
              Kind::httpError);
}

TEST_F(LocalAPIClientTest, StartLoginFindsANestedURLAndIgnoresTheStatus) {
    daemon_.enqueue(Reply::http(
        500, R"({"InteractiveLoginURL":"","x":{"interactiveLoginUrl":"https://login/nested"}})"));
    auto url = await<std::string>([&](auto done) { client_->startLogin(std::move(done)); });
    ASSERT_TRUE(url);
    EXPECT_EQ(*url, "https://login/nested");
    log_.logger()->waitUntilWritten();
    EXPECT_TRUE(log_.records().empty());
}

TEST_F(LocalAPIClientTest, StartLoginWithoutAURLFailsToDecode) {
    for (const char* body : {R"([{"interactive_login_url":"https://l"}])", R"({"a":1})",
                             R"({"interactive_login_url":""})", "garbage"}) {
        daemon_.enqueue(Reply::http(200, body));
        auto url = await<std::string>([&](auto done) { client_->startLogin(std::move(done)); });
        EXPECT_EQ(url.error(), LocalAPIError::decodeFailed()) << body;
    }
    daemon_.enqueue(Reply::closeAtOnce());
    EXPECT_EQ(await<std::string>([&](auto done) { client_->startLogin(std::move(done)); })
                  .error()
                  .kind(),
              Kind::badHTTPResponse);
}

TEST_F(LocalAPIClientTest, RunsExchangesConcurrently) {
    // The first request is held open by the daemon; the second must not wait for it.
    daemon_.enqueue(Reply().hold());
    daemon_.enqueue(Reply::http(200, "{}"));
    ++expectedCompletions_;
    std::promise<void> firstDone;
    client_->getStatus([&](auto) {
        ++completions_;
        firstDone.set_value();
    });
    ASSERT_TRUE(daemon_.waitForConnections(1));
    EXPECT_TRUE(status());
    firstDone.get_future().wait();
}

TEST(LocalAPIErrorDescriptions, CarryTheirFixedTextsAndPayloads) {
    EXPECT_EQ(LocalAPIError::connectFailed("m").description(), "Failed to connect to tarnwickd socket: m");
    EXPECT_EQ(LocalAPIError::writeFailed("m").description(), "Failed to write request: m");
    EXPECT_EQ(LocalAPIError::readFailed("m").description(), "Failed to read response: m");
    EXPECT_EQ(LocalAPIError::httpError(502, "b").description(), "HTTP error 502: b");
    EXPECT_EQ(LocalAPIError::socketCreateFailed().description(), "Failed to create unix domain socket");
    EXPECT_EQ(LocalAPIError::socketPathTooLong().description(), "Socket path too long");
    EXPECT_EQ(LocalAPIError::badHTTPResponse().description(), "Bad HTTP response from LocalAPI");
    EXPECT_EQ(LocalAPIError::decodeFailed().description(), "Failed to decode LocalAPI JSON response");
}

}  // namespace
}  // namespace tw
