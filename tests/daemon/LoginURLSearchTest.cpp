#include <gtest/gtest.h>

#include <string>

#include "app/daemon/LoginURLSearch.h"

namespace tw {
namespace {

std::string nested(std::size_t depth, std::string_view open, std::string_view inner,
                   std::string_view close) {
    std::string body;
    body.reserve(depth * (open.size() + close.size()) + inner.size());
    for (std::size_t i = 0; i < depth; ++i) body += open;
    body += inner;
    for (std::size_t i = 0; i < depth; ++i) body += close;
    return body;
}

TEST(LoginURLSearchTopLevel, TakesTheEarliestKeyOfTheListNotOfTheDocument) {
    EXPECT_EQ(
        extractInteractiveLoginURL(
            R"({"InteractiveLoginUrl":"https://late","interactiveLoginURL":"https://early"})"),
        "https://early");
    EXPECT_EQ(extractInteractiveLoginURL(
                  R"({"interactiveLoginUrl":"https://b","interactive_login_url":"https://a"})"),
              "https://a");
}

TEST(LoginURLSearchTopLevel, PrefersATopLevelKeyOverAnEarlierNestedOne) {
    EXPECT_EQ(extractInteractiveLoginURL(R"({"x":{"interactive_login_url":"https://nested"},
                                             "InteractiveLoginUrl":"https://top"})"),
              "https://top");
}

TEST(LoginURLSearchTopLevel, MatchesKeysExactly) {
    EXPECT_EQ(extractInteractiveLoginURL(R"({"INTERACTIVE_LOGIN_URL":"https://a"})"), std::nullopt);
    EXPECT_EQ(extractInteractiveLoginURL(R"({"interactive_login_url ":"https://a"})"),
              std::nullopt);
}

TEST(LoginURLSearchNested, SkipsAnEmptyTopLevelURLAndFindsANestedOne) {
    EXPECT_EQ(extractInteractiveLoginURL(
                  R"({"InteractiveLoginURL":"","x":{"interactiveLoginUrl":"https://a"}})"),
              "https://a");
}

TEST(LoginURLSearchNested, FindsAURLInsideArrays) {
    EXPECT_EQ(extractInteractiveLoginURL(
                  R"({"a":[1,[null,{"b":[[{"InteractiveLoginUrl":"https://deep"}]]}]]})"),
              "https://deep");
}

TEST(LoginURLSearchNested, SkipsEmptyAndNonStringURLsAndContinues) {
    EXPECT_EQ(extractInteractiveLoginURL(R"({"a":{"interactiveLoginURL":""},
                                             "b":{"interactiveLoginURL":42},
                                             "c":{"interactiveLoginURL":
                                                  {"InteractiveLoginURL":"https://in"}}})"),
              "https://in");
}

TEST(LoginURLSearchNested, TakesTheFirstInDocumentOrderDescendingBeforeMovingOn) {
    EXPECT_EQ(extractInteractiveLoginURL(R"({"a":{"b":{"interactiveLoginUrl":"https://first"}},
                                             "c":{"interactive_login_url":"https://second"}})"),
              "https://first");
    EXPECT_EQ(extractInteractiveLoginURL(R"({"a":[{"x":1},{"InteractiveLoginUrl":"https://one"}],
                                             "b":[{"InteractiveLoginUrl":"https://two"}]})"),
              "https://one");
}

TEST(LoginURLSearchNested, IgnoresURLsUnderOtherKeys) {
    EXPECT_EQ(extractInteractiveLoginURL(R"({"url":"https://a","x":["https://b"]})"), std::nullopt);
}

TEST(LoginURLSearchNested, FindsAURLUnderAThousandNestedArrays) {
    const std::string body =
        R"({"x":)" + nested(1000, "[", R"({"interactiveLoginUrl":"https://bottom"})", "]") + "}";
    EXPECT_EQ(extractInteractiveLoginURL(body), "https://bottom");
}

TEST(LoginURLSearchRefusal, FindsNothingWhenTheTopLevelIsNotAnObject) {
    EXPECT_EQ(extractInteractiveLoginURL(R"([{"x":{"interactiveLoginUrl":"https://a"}}])"),
              std::nullopt);
    EXPECT_EQ(extractInteractiveLoginURL(R"("https://a")"), std::nullopt);
}

TEST(LoginURLSearchRefusal, FindsNothingInABodyThatIsNotJson) {
    EXPECT_EQ(extractInteractiveLoginURL(R"({"interactiveLoginUrl":"https://a")"), std::nullopt);
    EXPECT_EQ(extractInteractiveLoginURL("<html>login</html>"), std::nullopt);
    EXPECT_EQ(extractInteractiveLoginURL(""), std::nullopt);
}

TEST(LoginURLSearchRefusal, SurvivesAHundredThousandNestedArraysOrObjects) {
    const std::string arrays = R"({"x":)" + nested(100'000, "[", "", "]") + "}";
    const std::string objects = R"({"x":)" + nested(100'000, R"({"a":)", "1", "}") + "}";
    EXPECT_EQ(extractInteractiveLoginURL(arrays), std::nullopt);
    EXPECT_EQ(extractInteractiveLoginURL(objects), std::nullopt);
}

}  // namespace
}  // namespace tw
