#include "app/helperbridge/TarnwickCLI.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/helperbridge/HelperConnection.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records requests and answers them as the test says.
class ScriptedHelperConnection final : public HelperConnection {
public:
    enum class Outcome { unreachable, lost, reply, lostThenReply };

    void runGoTool(const std::string& path, const std::vector<std::string>& arguments,
                   Callbacks callbacks) override {
        requests.push_back({path, arguments});
        switch (outcome) {
            case Outcome::unreachable: callbacks.unreachable("No such file or directory"); break;
            case Outcome::lost: callbacks.lost("peer closed"); break;
            case Outcome::reply: callbacks.reply(replyText); break;
            case Outcome::lostThenReply:
                callbacks.lost("peer closed");
                callbacks.reply(replyText);
                break;
        }
    }

    struct Request {
        std::string path;
        std::vector<std::string> arguments;
    };
    std::vector<Request> requests;
    Outcome outcome = Outcome::reply;
    std::string replyText = "ok";
};

class TarnwickCLITest : public ::testing::Test {
protected:
    void writeBundle(const std::string& info, bool withDaemon = true) {
        std::ofstream(dir_.file("Info.json")) << info;
        std::filesystem::create_directories(dir_.path() / "Resources");
        std::ofstream(dir_.file("Resources/tarnwick")) << "";
        if (withDaemon) std::ofstream(dir_.file("Resources/tarnwickd")) << "";
    }

    TarnwickCLI cli() { return TarnwickCLI(Bundle(dir_.path()), log_.logger(), connection_); }

    std::vector<std::string> records() {
        log_.logger()->waitUntilWritten();
        return log_.records();
    }

    TempDir dir_;
    TestLogger log_;
    std::shared_ptr<ScriptedHelperConnection> connection_ = std::make_shared<ScriptedHelperConnection>();
};

TEST_F(TarnwickCLITest, StartsTheDaemonWithOnlyTheServersThatAreConfigured) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {R"({})", {"up"}},
        {R"({"TWConductorURL":"","TWSignalURL":""})", {"up"}},
        {R"({"TWConductorURL":7,"TWSignalURL":true})", {"up"}},
        {R"({"TWConductorURL":"https://c.example","TWSignalURL":"https://s.example"})",
         {"up", "--conductor-host", "https://c.example", "--signal-host", "https://s.example"}},
        {R"({"TWSignalURL":"s.example"})", {"up", "--signal-host", "s.example"}},
    };
    for (const auto& [info, expected] : cases) {
        writeBundle(info);
        connection_->requests.clear();
        cli().up();
        ASSERT_EQ(connection_->requests.size(), 1u) << info;
        EXPECT_EQ(connection_->requests[0].path, dir_.file("Resources/tarnwickd"));
        EXPECT_EQ(connection_->requests[0].arguments, expected) << info;
    }
}

TEST_F(TarnwickCLITest, LogsTheInvocationAndTheHelpersAnswer) {
    writeBundle(R"({"TWConductorURL":"c.example"})");
    connection_->replyText = "spawned";
    cli().up();
    const auto daemon = dir_.file("Resources/tarnwickd");
    EXPECT_THAT(records(), ElementsAre("[CLI] Invoking tarnwickd up via Helper at path: " + daemon +
                                           ", args: up --conductor-host c.example",
                                       "[CLI] tarnwickd up output: spawned",
                                       "[XPC] Connection invalidated: com.tarnwick.desktop.Helper"));
}

TEST_F(TarnwickCLITest, WithoutTheDaemonUpOpensNoConnectionButPingAndDownStillAsk) {
    writeBundle("{}", false);
    auto bridge = cli();
    bridge.up();
    EXPECT_THAT(connection_->requests, IsEmpty());
    EXPECT_THAT(records(), ElementsAre("[CLI] ERROR: tarnwickd binary not found in Bundle"));

    connection_->replyText = "Error executing binary: Error Domain=POSIX Code=2";
    bool reachable = false;
    bridge.ping([&](bool answer) { reachable = answer; });
    EXPECT_TRUE(reachable);
    ASSERT_EQ(connection_->requests.size(), 1u);
    EXPECT_EQ(connection_->requests[0].path, "");
    EXPECT_THAT(connection_->requests[0].arguments, ElementsAre("--help"));

    bridge.down();
    EXPECT_EQ(connection_->requests[1].path, dir_.file("Resources/tarnwick"));
    EXPECT_THAT(connection_->requests[1].arguments, ElementsAre("down"));
}

TEST_F(TarnwickCLITest, PingCompletesExactlyOnceWhateverHappensToTheConnection) {
    writeBundle("{}");
    using Outcome = ScriptedHelperConnection::Outcome;
    const std::vector<std::pair<Outcome, bool>> cases = {
        {Outcome::unreachable, false}, {Outcome::lost, false}, {Outcome::reply, true}, {Outcome::lostThenReply, false}};
    for (const auto& [outcome, expected] : cases) {
        connection_->outcome = outcome;
        std::vector<bool> answers;
        cli().ping([&](bool answer) { answers.push_back(answer); });
        EXPECT_THAT(answers, ElementsAre(expected)) << static_cast<int>(outcome);
    }
}

TEST_F(TarnwickCLITest, NamesTheHelperWhenItCannotBeReachedOrIsLost) {
    writeBundle("{}");
    connection_->outcome = ScriptedHelperConnection::Outcome::unreachable;
    cli().down();
    connection_->outcome = ScriptedHelperConnection::Outcome::lost;
    cli().down();
    EXPECT_THAT(records(), ElementsAre("[XPC] Error: No such file or directory",
                                       "[XPC] Failed to obtain HelperToolProtocol proxy for: com.tarnwick.desktop.Helper",
                                       "[XPC] Error: peer closed",
                                       "[XPC] Connection interrupted: com.tarnwick.desktop.Helper",
                                       "[XPC] Connection invalidated: com.tarnwick.desktop.Helper"));
}

}  // namespace
}  // namespace tw
