#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>

#include "app/helperbridge/SocketHelperConnection.h"
#include "app/helperbridge/TarnwickCLI.h"
#include "base/WorkerPool.h"
#include "tests/helper/RunningHelper.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

// The bridge over the real socket, against the real tarnwick-helper.
class TarnwickCLIWithHelperTest : public ::testing::Test {
protected:
    TarnwickCLIWithHelperTest() {
        std::ofstream(helper_.dir().file("Info.json")) << R"({"TWConductorURL":"c.example"})";
    }

    TarnwickCLI cli(const std::string& socket) {
        return TarnwickCLI(Bundle(helper_.dir().path()), log_.logger(),
                           std::make_shared<SocketHelperConnection>(socket, pool_));
    }

    bool pingOnce(TarnwickCLI& bridge) {
        std::promise<bool> answer;
        auto calls = std::make_shared<std::atomic<int>>(0);
        bridge.ping([&answer, calls](bool reachable) {
            if (++*calls == 1) answer.set_value(reachable);
        });
        const bool reachable = answer.get_future().get();
        pool_.reset();  // joins: no second completion may follow
        EXPECT_EQ(calls->load(), 1);
        return reachable;
    }

    RunningHelper helper_;
    TestLogger log_;
    std::shared_ptr<WorkerPool> pool_ = std::make_shared<WorkerPool>(2);
};

TEST_F(TarnwickCLIWithHelperTest, PingIsTrueWhenTheHelperAnswers) {
    helper_.start();
    auto bridge = cli(helper_.socket());
    EXPECT_TRUE(pingOnce(bridge));
}

TEST_F(TarnwickCLIWithHelperTest, PingIsFalseExactlyOnceWithoutAHelper) {
    auto bridge = cli(helper_.dir().file("missing.sock"));
    EXPECT_FALSE(pingOnce(bridge));
}

TEST_F(TarnwickCLIWithHelperTest, UpSpawnsTheDaemonAndDownRunsTheCli) {
    helper_.start();
    auto bridge = cli(helper_.socket());
    bridge.up();
    ASSERT_TRUE(log_.waitFor("[CLI] tarnwickd up output: spawned", 1, RunningHelper::kPatience));
    ASSERT_TRUE(RunningHelper::waitUntil([&] { return helper_.runningDaemons().size() == 1; }));
    bridge.down();
    EXPECT_TRUE(log_.waitFor("[CLI] tarnwick down output: tarnwick down\n", 1, RunningHelper::kPatience));
}

}  // namespace
}  // namespace tw
