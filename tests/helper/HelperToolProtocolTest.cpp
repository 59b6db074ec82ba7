#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "shared/HelperToolProtocol.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using Protocol = HelperToolProtocol;

const std::string kRunSelector(Protocol::kRunGoToolSelector);

// The line as the reader hands it over: without its LF.
std::string withoutLf(std::string line) {
    EXPECT_EQ(line.back(), '\n');
    line.pop_back();
    return line;
}

std::string decodeRequestFailure(std::string_view line) {
    const auto request = Protocol::decodeRequest(line);
    EXPECT_FALSE(request.has_value()) << line;
    return request ? std::string() : request.error().message;
}

std::string decodeReplyFailure(std::string_view line) {
    const auto reply = Protocol::decodeReply(line);
    EXPECT_FALSE(reply.has_value()) << line;
    return reply ? std::string() : reply.error().message;
}

Protocol::Request roundTrip(const Protocol::Request& request) {
    const auto decoded = Protocol::decodeRequest(withoutLf(Protocol::encodeRequest(request)));
    EXPECT_TRUE(decoded.has_value()) << (decoded ? "" : decoded.error().message);
    return decoded.value_or(Protocol::Ping{});
}

Protocol::Reply roundTrip(const Protocol::Reply& reply) {
    const auto decoded = Protocol::decodeReply(withoutLf(Protocol::encodeReply(reply)));
    EXPECT_TRUE(decoded.has_value()) << (decoded ? "" : decoded.error().message);
    return decoded.value_or(Protocol::ErrorReply{"not decoded"});
}

// --- the wire form ---

TEST(HelperToolProtocolTest, EncodesThePingAsItsSelectorAlone) {
    EXPECT_EQ(Protocol::encodeRequest(Protocol::Ping{}), "{\"selector\":\"pingWithReply:\"}\n");
}

TEST(HelperToolProtocolTest, EncodesARunWithItsPathAndArgumentsInOrder) {
    EXPECT_EQ(Protocol::encodeRequest(Protocol::RunGoTool{"/r/tarnwickd", {"up", "--x"}}),
              "{\"selector\":\"runGoToolWithPath:arguments:withReply:\",\"path\":\"/r/tarnwickd\","
              "\"arguments\":[\"up\",\"--x\"]}\n");
    EXPECT_EQ(Protocol::encodeRequest(Protocol::RunGoTool{"", {}}),
              "{\"selector\":\"runGoToolWithPath:arguments:withReply:\",\"path\":\"\","
              "\"arguments\":[]}\n");
}

TEST(HelperToolProtocolTest, EncodesEachReplyKind) {
    EXPECT_EQ(Protocol::encodeReply(Protocol::PingReply{true}), "{\"reply\":true}\n");
    EXPECT_EQ(Protocol::encodeReply(Protocol::RunGoToolReply{"spawned"}),
              "{\"reply\":\"spawned\"}\n");
    EXPECT_EQ(Protocol::encodeReply(Protocol::ErrorReply{"not authorised"}),
              "{\"error\":\"not authorised\"}\n");
}

// --- escaping ---

TEST(HelperToolProtocolTest, EscapesQuotesBackslashesAndEveryControlCharacter) {
    EXPECT_EQ(Protocol::encodeReply(Protocol::RunGoToolReply{"a\"b\\c\n\r\t\b\f\x01\x1f\x7f"}),
              "{\"reply\":\"a\\\"b\\\\c\\n\\r\\t\\b\\f\\u0001\\u001f\x7f\"}\n");
}

TEST(HelperToolProtocolTest, KeepsANulCharacterOfReplyText) {
    const std::string text("before\0after", 12);
    EXPECT_EQ(roundTrip(Protocol::Reply{Protocol::RunGoToolReply{text}}),
              Protocol::Reply{Protocol::RunGoToolReply{text}});
}

TEST(HelperToolProtocolTest, PassesValidUtf8ThroughUnchanged) {
    const std::string text = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF";
    EXPECT_EQ(Protocol::encodeReply(Protocol::RunGoToolReply{text}),
              "{\"reply\":\"" + text + "\"}\n");
}

TEST(HelperToolProtocolTest, ReplacesEachByteThatBeginsNoValidSequence) {
    const std::string replacement = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xE9!", "caf" + replacement + "!"},                                      // Latin-1
        {"\xC0\xAF", replacement + replacement},                                      // overlong
        {"\xED\xA0\x80", replacement + replacement + replacement},                    // surrogate
        {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // > U+10FFFF
        {"\xE2\x82", replacement + replacement},  // cut short at the end
        {"\x80", replacement},                    // lone continuation byte
    };
    for (const auto& [bytes, expected] : cases) {
        const std::string line = Protocol::encodeReply(Protocol::RunGoToolReply{bytes});
        EXPECT_EQ(line, "{\"reply\":\"" + expected + "\"}\n");
        EXPECT_TRUE(Protocol::decodeReply(withoutLf(line)).has_value());
    }
}

TEST(HelperToolProtocolTest, RoundTripsEveryRequestAndReply) {
    const Protocol::Request requests[] = {
        Protocol::Ping{},
        Protocol::RunGoTool{"/a b/\"q\"\\", {"", "line\nbreak", "\xC3\xA9"}},
        Protocol::RunGoTool{"", {}},
    };
    for (const auto& request : requests) EXPECT_EQ(roundTrip(request), request);
    const Protocol::Reply replies[] = {
        Protocol::PingReply{true},
        Protocol::PingReply{false},
        Protocol::RunGoToolReply{""},
        Protocol::RunGoToolReply{"multi\nline\toutput \"quoted\""},
        Protocol::ErrorReply{"malformed request: unknown selector"},
    };
    for (const auto& reply : replies) EXPECT_EQ(roundTrip(reply), reply);
}

TEST(HelperToolProtocolTest, IsTextAcceptsUtf8AndRefusesAnythingElse) {
    EXPECT_TRUE(Protocol::isText(""));
    EXPECT_TRUE(Protocol::isText(std::string("nul\0ok", 6)));
    EXPECT_TRUE(Protocol::isText("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(Protocol::isText("caf\xE9"));
    EXPECT_FALSE(Protocol::isText("\xC0\xAF"));
    EXPECT_FALSE(Protocol::isText("\xED\xA0\x80"));
}

// --- strict request decoding ---

TEST(HelperToolProtocolTest, DecodesMembersInAnyOrderWithWhitespace) {
    const auto request = Protocol::decodeRequest(
        R"( { "arguments" : ["down"] , "path" : "/r/tarnwick" , "selector" : ")" + kRunSelector +
        R"(" } )");
    ASSERT_TRUE(request.has_value()) << request.error().message;
    EXPECT_EQ(*request, Protocol::Request(Protocol::RunGoTool{"/r/tarnwick", {"down"}}));
}

TEST(HelperToolProtocolTest, RefusesALineThatIsNoJsonObject) {
    EXPECT_THAT(decodeRequestFailure(""), HasSubstr("not valid JSON"));
    EXPECT_THAT(decodeRequestFailure("garbage"), HasSubstr("not valid JSON"));
    EXPECT_THAT(decodeRequestFailure(R"({"selector":"pingWithReply:")"),
                HasSubstr("not valid JSON"));
    EXPECT_THAT(decodeRequestFailure(R"({"selector":"pingWithReply:"} {})"),
                HasSubstr("not valid JSON"));
    EXPECT_EQ(decodeRequestFailure(R"(["pingWithReply:"])"), "not a JSON object");
    EXPECT_EQ(decodeRequestFailure(R"("pingWithReply:")"), "not a JSON object");
    EXPECT_EQ(decodeRequestFailure("null"), "not a JSON object");
}

TEST(HelperToolProtocolTest, RefusesAMissingWrongOrUnknownSelector) {
    EXPECT_EQ(decodeRequestFailure("{}"), "missing \"selector\"");
    EXPECT_EQ(decodeRequestFailure(R"({"selector":1})"), "\"selector\" is not a string");
    EXPECT_EQ(decodeRequestFailure(R"({"selector":null})"), "\"selector\" is not a string");
    EXPECT_EQ(decodeRequestFailure(R"({"selector":"pingWithReply"})"), "unknown selector");
    EXPECT_EQ(decodeRequestFailure(R"({"selector":"PINGWITHREPLY:"})"), "unknown selector");
}

TEST(HelperToolProtocolTest, RefusesUnknownAndRepeatedMembers) {
    EXPECT_EQ(decodeRequestFailure(R"({"selector":"pingWithReply:","extra":1})"),
              "unexpected member \"extra\"");
    EXPECT_EQ(decodeRequestFailure(R"({"selector":"pingWithReply:","selector":"pingWithReply:"})"),
              "duplicate member \"selector\"");
    EXPECT_EQ(decodeRequestFailure(R"({"selector":")" + kRunSelector +
                                   R"(","path":"/a","path":"/b","arguments":[]})"),
              "duplicate member \"path\"");
}

TEST(HelperToolProtocolTest, RefusesAPingThatCarriesRunArguments) {
    EXPECT_EQ(decodeRequestFailure(R"({"selector":"pingWithReply:","path":"/a","arguments":[]})"),
              "\"pingWithReply:\" takes no arguments");
}

TEST(HelperToolProtocolTest, RefusesARunWithoutItsPathOrArguments) {
    EXPECT_EQ(decodeRequestFailure(R"({"selector":")" + kRunSelector + R"(","arguments":[]})"),
              "missing \"path\"");
    EXPECT_EQ(decodeRequestFailure(R"({"selector":")" + kRunSelector + R"(","path":"/a"})"),
              "missing \"arguments\"");
}

TEST(HelperToolProtocolTest, RefusesARunWhoseMembersHaveTheWrongType) {
    const auto run = [](std::string_view path, std::string_view arguments) {
        return R"({"selector":")" + kRunSelector + R"(","path":)" + std::string(path) +
               R"(,"arguments":)" + std::string(arguments) + "}";
    };
    EXPECT_EQ(decodeRequestFailure(run("1", "[]")), "\"path\" is not a string");
    EXPECT_EQ(decodeRequestFailure(run("[\"/a\"]", "[]")), "\"path\" is not a string");
    EXPECT_EQ(decodeRequestFailure(run("\"/a\"", "\"up\"")), "\"arguments\" is not an array");
    EXPECT_EQ(decodeRequestFailure(run("\"/a\"", "{}")), "\"arguments\" is not an array");
    EXPECT_EQ(decodeRequestFailure(run("\"/a\"", "[\"up\",2]")), "an argument is not a string");
    EXPECT_EQ(decodeRequestFailure(run("\"/a\"", "[[\"up\"]]")), "an argument is not a string");
    EXPECT_EQ(decodeRequestFailure(run("\"/a\"", "[null]")), "an argument is not a string");
}

// exec would silently cut such a text at the NUL and run something other than what was asked.
TEST(HelperToolProtocolTest, RefusesAPathOrArgumentHoldingANulCharacter) {
    const auto run = [](std::string_view path, std::string_view argument) {
        return R"({"selector":")" + kRunSelector + R"(","path":")" + std::string(path) +
               R"(","arguments":[")" + std::string(argument) + R"("]})";
    };
    EXPECT_EQ(decodeRequestFailure(run(R"(/r/tarnwick\u0000x)", "up")),
              "\"path\" contains a NUL character");
    EXPECT_EQ(decodeRequestFailure(run("/r/tarnwick", R"(up\u0000--evil)")),
              "an argument contains a NUL character");
}

TEST(HelperToolProtocolTest, RefusesInvalidUtf8InsideTheJson) {
    EXPECT_THAT(decodeRequestFailure("{\"selector\":\"ping\xE9\"}"), HasSubstr("not valid JSON"));
}

TEST(HelperToolProtocolTest, AcceptsARequestAtTheCapAndRefusesOneByteMore) {
    const std::string prefix = R"({"selector":")" + kRunSelector + R"(","path":")";
    const std::string suffix = R"(","arguments":[]})";
    std::string atCap =
        prefix + std::string(Protocol::kMaxRequestLineBytes - prefix.size() - suffix.size(), 'p') +
        suffix;
    ASSERT_EQ(atCap.size(), Protocol::kMaxRequestLineBytes);
    EXPECT_TRUE(Protocol::decodeRequest(atCap).has_value());
    atCap.insert(prefix.size(), "p");
    EXPECT_EQ(decodeRequestFailure(atCap), "request longer than 65536 bytes");
}

// --- strict reply decoding ---

TEST(HelperToolProtocolTest, DecodesTheReplyKindFromTheValueType) {
    EXPECT_EQ(Protocol::decodeReply(R"({"reply":true})").value(),
              Protocol::Reply(Protocol::PingReply{true}));
    EXPECT_EQ(Protocol::decodeReply(R"({"reply":"spawned"})").value(),
              Protocol::Reply(Protocol::RunGoToolReply{"spawned"}));
    EXPECT_EQ(Protocol::decodeReply(R"({"error":"not authorised"})").value(),
              Protocol::Reply(Protocol::ErrorReply{"not authorised"}));
}

TEST(HelperToolProtocolTest, RefusesEveryOtherReplyShape) {
    EXPECT_THAT(decodeReplyFailure("nope"), HasSubstr("not valid JSON"));
    EXPECT_EQ(decodeReplyFailure("[true]"), "not a JSON object");
    EXPECT_EQ(decodeReplyFailure("{}"), "expected exactly one of \"reply\" and \"error\"");
    EXPECT_EQ(decodeReplyFailure(R"({"reply":"a","error":"b"})"),
              "expected exactly one of \"reply\" and \"error\"");
    EXPECT_EQ(decodeReplyFailure(R"({"reply":"a","reply":"b"})"), "duplicate member \"reply\"");
    EXPECT_EQ(decodeReplyFailure(R"({"reply":"a","extra":1})"), "unexpected member \"extra\"");
    EXPECT_EQ(decodeReplyFailure(R"({"reply":1})"), "\"reply\" is neither a boolean nor a string");
    EXPECT_EQ(decodeReplyFailure(R"({"reply":null})"),
              "\"reply\" is neither a boolean nor a string");
    EXPECT_EQ(decodeReplyFailure(R"({"error":false})"), "\"error\" is not a string");
}

TEST(HelperToolProtocolTest, ReplyLinesHaveRoomForTheLargestReplyText) {
    const std::string worst(Protocol::kMaxReplyTextBytes, '\x01');
    const std::string line = withoutLf(Protocol::encodeReply(Protocol::RunGoToolReply{worst}));
    EXPECT_LE(line.size(), Protocol::kMaxReplyLineBytes);
    EXPECT_TRUE(Protocol::decodeReply(line).has_value());
}

}  // namespace
}  // namespace tw
