#include "app/platform/linux/QtMainQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/platform/QtWait.h"

namespace tw {
namespace {

using ::testing::ElementsAre;

TEST(QtMainQueueTest, RunsPostsInOrderAndDelayedTasksWhenDueOnItsOwnThread) {
    QtMainQueue queue;
    std::vector<std::string> ran;
    std::vector<bool> onQueue;
    auto record = [&](std::string name) {
        return [&, name] {
            ran.push_back(name);
            onQueue.push_back(queue.isCurrent());
        };
    };
    queue.postDelayed(0.05, record("late"));
    auto cancelled = queue.postDelayed(0.01, record("cancelled"));
    cancelled.cancel();
    // Delays started from another thread still run on the queue's thread.
    std::thread([&] {
        queue.post(record("first"));
        queue.postDelayed(0.02, record("soon"));
    }).join();
    queue.post(record("second"));
    bool currentElsewhere = true;
    std::thread([&] { currentElsewhere = queue.isCurrent(); }).join();
    EXPECT_FALSE(currentElsewhere);

    ASSERT_TRUE(waitUntil([&] { return ran.size() == 4; }));
    EXPECT_THAT(ran, ElementsAre("first", "second", "soon", "late"));
    EXPECT_THAT(onQueue, ElementsAre(true, true, true, true));
}

// A timer left running for a cancelled task would still wake the thread when it fell due.
TEST(QtMainQueueTest, KeepsNoTimerRunningForACancelledOrFiredTask) {
    QtMainQueue queue;
    int ran = 0;
    auto hourLater = queue.postDelayed(3600, [&] { ++ran; });
    DelayedTask soon;
    soon = queue.postDelayed(0.01, [&] {
        ++ran;
        soon.cancel();  // as an owned timer does when its task starts it again
    });
    ASSERT_TRUE(waitUntil([&] { return queue.pendingTimers() == 2; }));
    hourLater.cancel();
    EXPECT_EQ(queue.pendingTimers(), 1u);
    ASSERT_TRUE(waitUntil([&] { return ran == 1; }));
    EXPECT_EQ(queue.pendingTimers(), 0u);

    auto beforeStart = queue.postDelayed(0.01, [&] { ++ran; });
    beforeStart.cancel();  // before the queue has started its timer
    waitUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(queue.pendingTimers(), 0u);
}

}  // namespace
}  // namespace tw
