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

}  // namespace
}  // namespace tw
