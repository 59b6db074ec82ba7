// The framing of the real helper's connections: one reply per request line, in order, and a
// clear error reply for anything that is not a request.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/UnixSocket.h"
#include "tests/helper/RunningHelper.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using Protocol = HelperToolProtocol;

class HelperConnectionTest : public ::testing::Test {
protected:
    std::string touchRequest() const {
        return Protocol::encodeRequest(Protocol::RunGoTool{helper.cli(), {"touch"}});
    }

    RunningHelper helper;
};

TEST_F(HelperConnectionTest, AnswersAPing) {
    helper.start();
    EXPECT_EQ(helper.request(Protocol::Ping{}), Protocol::Reply(Protocol::PingReply{true}));
}

TEST_F(HelperConnectionTest, AnswersSeveralRequestsOnOneConnectionInOrder) {
    helper.start();
    const std::string requests =
        Protocol::encodeRequest(Protocol::RunGoTool{helper.cli(), {"first"}}) +
        Protocol::encodeRequest(Protocol::Ping{}) +
        Protocol::encodeRequest(Protocol::RunGoTool{helper.cli(), {"third"}});
    EXPECT_THAT(helper.exchange(requests, 4, true),
                ElementsAre(R"({"reply":"tarnwick first\n"})", R"({"reply":true})",
                            R"({"reply":"tarnwick third\n"})"));
}

TEST_F(HelperConnectionTest, RefusesAMalformedRequestRunsNothingAndKeepsServing) {
    helper.start();
    std::string wrongSelector = touchRequest();
    wrongSelector.replace(wrongSelector.find("withReply:"), 10, "withReply");
    const auto replies = helper.exchange(
        wrongSelector + "not json\n" + Protocol::encodeRequest(Protocol::Ping{}), 3);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0], R"({"error":"malformed request: unknown selector"})");
    EXPECT_THAT(replies[1], StartsWith(R"({"error":"malformed request: not valid JSON)"));
    EXPECT_EQ(replies[2], R"({"reply":true})");
    EXPECT_FALSE(std::filesystem::exists(helper.touched()));
    EXPECT_THAT(helper.systemLog(), Contains("Rejected a malformed request: unknown selector"));
}

TEST_F(HelperConnectionTest, RefusesAnOversizedLineAndClosesTheConnection) {
    helper.start();
    const std::string huge = R"({"selector":"pingWithReply:","pad":")" +
                             std::string(Protocol::kMaxRequestLineBytes, 'x') + "\"}\n";
    EXPECT_THAT(helper.exchange(huge + Protocol::encodeRequest(Protocol::Ping{}), 2),
                ElementsAre(R"({"error":"request line longer than 65536 bytes"})"));
}

TEST_F(HelperConnectionTest, RefusesARequestLeftWithoutItsLf) {
    helper.start();
    std::string request = touchRequest();
    request.pop_back();
    EXPECT_THAT(helper.exchange(request, 2, true),
                ElementsAre(R"({"error":"request line not terminated"})"));
    EXPECT_FALSE(std::filesystem::exists(helper.touched()));
}

TEST_F(HelperConnectionTest, ServesAnotherClientWhileOneConnectionIsIdle) {
    helper.start();
    const auto idle = UnixSocket::connect(helper.socket());  // connected, never sends
    ASSERT_TRUE(idle.has_value());
    EXPECT_EQ(helper.request(Protocol::Ping{}), Protocol::Reply(Protocol::PingReply{true}));
}

// --- its own socket ---

TEST(HelperSocketTest, CreatesItsFolderAndOpensTheSocketToLocalUsers) {
    RunningHelper helper;
    const std::string socket = helper.dir().file("run/tarnwick/helper.sock");
    helper.setSocket(socket);
    helper.start();
    struct stat status {};
    ASSERT_EQ(::stat(socket.c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0666u);
    EXPECT_TRUE(UnixSocket::connect(socket).has_value());
}

TEST(HelperSocketTest, ServesTheSocketSystemdHandsOverInsteadOfBindingOne) {
    if (::access(RunningHelper::kSocketActivate, X_OK) != 0) {
        GTEST_SKIP() << "systemd-socket-activate is not installed";
    }
    RunningHelper helper;
    helper.setActivated();
    helper.start();
    EXPECT_EQ(helper.request(Protocol::Ping{}), Protocol::Reply(Protocol::PingReply{true}));
    EXPECT_EQ(helper.run(helper.cli(), {"env"}),
              "PATH=/usr/bin:/bin:/usr/sbin:/sbin:/usr/local/"
              "bin\nTW_SKIP_RUNNING_CHECK=unset\nLISTEN_FDS=unset\n");
    EXPECT_FALSE(std::filesystem::exists(helper.unboundSocket()));
}

TEST(HelperSocketTest, ReplacesAStaleSocketFileOfAnEarlierRun) {
    RunningHelper helper;
    ASSERT_TRUE(UnixSocket::listen(helper.socket()).has_value());  // left behind, nobody listens
    helper.start();
    EXPECT_EQ(helper.request(Protocol::Ping{}), Protocol::Reply(Protocol::PingReply{true}));
}

}  // namespace
}  // namespace tw
