#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/daemon/LocalAPIClient.h"
#include "devdaemon/HttpRequest.h"

namespace tw {
namespace {

using ::testing::HasSubstr;

HttpRequest parsed(std::string_view bytes) {
    auto result = HttpRequest::parse(bytes);
    EXPECT_TRUE(result.has_value()) << result.error();
    EXPECT_TRUE(result.has_value() && result->has_value()) << "incomplete: " << bytes;
    return result.has_value() && result->has_value() ? **result : HttpRequest{};
}

std::string refusal(std::string_view bytes) {
    auto result = HttpRequest::parse(bytes);
    EXPECT_FALSE(result.has_value()) << bytes;
    return result.has_value() ? std::string() : result.error();
}

TEST(HttpRequestParse, ReadsTheClientsRequestWithItsBody) {
    const auto body = R"({"WantRunning":true,"WantRunningSet":true})";
    const auto request = parsed(LocalAPIClient::buildRequest("PATCH", "/localapi/v0/merrow", body));
    EXPECT_EQ(request.method, "PATCH");
    EXPECT_EQ(request.path, "/localapi/v0/merrow");
    EXPECT_TRUE(request.query.empty());
    EXPECT_EQ(request.body, body);
}

TEST(HttpRequestParse, ReadsARequestWithoutContentLengthAsHavingNoBody) {
    const auto request =
        parsed("GET /localapi/v0/observe-pelto-bus HTTP/1.1\r\nHost: local-tarnwickd.sock\r\n\r\n");
    EXPECT_EQ(request.path, "/localapi/v0/observe-pelto-bus");
    EXPECT_EQ(request.body, "");
}

TEST(HttpRequestParse, NeedsMoreBytesAtEveryPointBeforeTheEndOfTheBody) {
    const auto bytes = LocalAPIClient::buildRequest("POST", "/localapi/v0/login", "{\"a\":1}");
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        const auto result = HttpRequest::parse(std::string_view(bytes).substr(0, size));
        ASSERT_TRUE(result.has_value()) << size << ": " << result.error();
        EXPECT_FALSE(result->has_value()) << size;
    }
    EXPECT_EQ(parsed(bytes + "trailing").body, "{\"a\":1}");
}

TEST(HttpRequestParse, DecodesTheQueryAndKeepsThePathAsSent) {
    const auto request = parsed(LocalAPIClient::buildRequest(
        "POST", "/localapi/v0/dev/jail?reason=over+quota%3A%20%E2%9C%93&x&id=a%2Fb", ""));
    EXPECT_EQ(request.path, "/localapi/v0/dev/jail");
    EXPECT_EQ(request.queryValue("reason"), "over quota: ✓");
    EXPECT_EQ(request.queryValue("id"), "a/b");
    EXPECT_EQ(request.queryValue("x"), "");
    EXPECT_EQ(request.queryValue("missing"), std::nullopt);
}

TEST(HttpRequestParse, ReadsHeaderNamesWithoutRegardToCase) {
    EXPECT_EQ(parsed("POST /x HTTP/1.0\r\ncontent-length:  3 \r\n\r\nabc").body, "abc");
    EXPECT_THAT(refusal("POST /x HTTP/1.1\r\nTRANSFER-ENCODING: chunked\r\n\r\n"),
                HasSubstr("Transfer-Encoding"));
}

TEST(HttpRequestParse, RefusesMalformedRequests) {
    EXPECT_THAT(refusal("GET\r\n\r\n"), HasSubstr("request line"));
    EXPECT_THAT(refusal("GET localapi HTTP/1.1\r\n\r\n"), HasSubstr("request line"));
    EXPECT_THAT(refusal("GET / HTTP/2\r\n\r\n"), HasSubstr("version"));
    EXPECT_THAT(refusal("GET / HTTP/1.1\r\nno colon\r\n\r\n"), HasSubstr("header"));
    EXPECT_THAT(refusal("GET / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n"),
                HasSubstr("Content-Length"));
    EXPECT_THAT(refusal("GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"),
                HasSubstr("Content-Length"));
    EXPECT_THAT(refusal("GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"),
                HasSubstr("Content-Length"));
    EXPECT_THAT(refusal("GET /?a=%4 HTTP/1.1\r\n\r\n"), HasSubstr("percent"));
    EXPECT_THAT(refusal("GET /?a=%zz HTTP/1.1\r\n\r\n"), HasSubstr("percent"));
    EXPECT_THAT(refusal("GET /?a=%FF HTTP/1.1\r\n\r\n"), HasSubstr("UTF-8"));
}

TEST(HttpRequestParse, RefusesRequestsOverTheSizeLimitBeforeTheyArriveWhole) {
    const std::string endless = "GET / HTTP/1.1\r\nX: " + std::string(HttpRequest::kMaxSize, 'a');
    EXPECT_THAT(refusal(endless), HasSubstr("too large"));

    const auto header = "POST / HTTP/1.1\r\nContent-Length: " +
                        std::to_string(HttpRequest::kMaxSize) + "\r\n\r\n";
    EXPECT_THAT(refusal(header), HasSubstr("too large"));
    EXPECT_THAT(refusal("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"),
                HasSubstr("Content-Length"));

    const std::string largest = "POST / HTTP/1.1\r\nContent-Length: 65000\r\n\r\n";
    EXPECT_EQ(parsed(largest + std::string(65000, 'b')).body.size(), 65000u);
}

}  // namespace
}  // namespace tw
