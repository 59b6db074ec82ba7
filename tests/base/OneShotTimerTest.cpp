#include "base/OneShotTimer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/ManualMainQueue.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(OneShotTimerTest, StartReplacesStopCancelsAndDestructionCancels) {
    auto queue = std::make_shared<ManualMainQueue>();
    std::vector<std::string> fired;
    std::optional<OneShotTimer> timer(std::in_place, queue);

    timer->start(2, [&] { fired.push_back("first"); });
    timer->start(3, [&] { fired.push_back("second"); });
    EXPECT_TRUE(timer->isRunning());
    queue->advance(5);
    EXPECT_THAT(fired, ElementsAre("second"));
    EXPECT_FALSE(timer->isRunning());

    timer->start(1, [&] { fired.push_back("stopped"); });
    timer->stop();
    EXPECT_FALSE(timer->isRunning());
    timer->start(1, [&] { fired.push_back("destroyed"); });
    timer.reset();
    queue->advance(5);
    EXPECT_THAT(fired, ElementsAre("second"));
}

TEST(OneShotTimerTest, ATaskMayStartItsOwnTimerAgain) {
    auto queue = std::make_shared<ManualMainQueue>();
    OneShotTimer timer(queue);
    int runs = 0;
    std::function<void()> again = [&] {
        if (++runs < 3) timer.start(1, again);
    };
    timer.start(1, again);
    queue->advance(10);
    EXPECT_EQ(runs, 3);
    EXPECT_FALSE(timer.isRunning());
}

}  // namespace
}  // namespace tw
