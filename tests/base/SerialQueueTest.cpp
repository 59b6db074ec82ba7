#include "base/SerialQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "base/ThreadMainQueue.h"

namespace tw {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;

// Only bounds a wait that should end at once, so that a fault fails the test instead of hanging.
constexpr auto kPatience = std::chrono::seconds(5);

// A task that holds its queue until the test opens the gate.
class Gate {
public:
    Task blocker() {
        return [this] { (void)open_.try_acquire_for(kPatience); };
    }
    void open() { open_.release(); }

private:
    std::binary_semaphore open_{0};
};

// Names of the tasks that ran, in the order they ran, from whichever thread.
class Log {
public:
    Task entry(std::string name) {
        return [this, name = std::move(name)] {
            std::lock_guard lock(mutex_);
            names_.push_back(name);
        };
    }
    std::vector<std::string> names() const {
        std::lock_guard lock(mutex_);
        return names_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
};

class SerialQueueTest : public ::testing::Test {
protected:
    // A task that counts down `done` after running `task`, for waiting on delayed ones.
    Task signalling(Task task) {
        return [this, task = std::move(task)] {
            task();
            done.release();
        };
    }
    bool waitForSignals(int count) {
        for (int i = 0; i < count; ++i) {
            if (!done.try_acquire_for(kPatience)) return false;
        }
        return true;
    }

    SerialQueue queue{"test"};
    Gate gate;
    Log log;
    std::counting_semaphore<> done{0};
};

// --- order and thread ---

TEST_F(SerialQueueTest, RunsTasksInPostOrderOnOneThreadOfItsOwn) {
    constexpr int kTasks = 200;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < kTasks; ++i) {
        queue.post([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    queue.drain();

    ASSERT_EQ(order.size(), std::size_t{kTasks});
    for (int i = 0; i < kTasks; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_THAT(threads, Each(threads.front()));
    EXPECT_NE(threads.front(), std::this_thread::get_id());
}

TEST_F(SerialQueueTest, IsCurrentOnlyOnItsOwnThread) {
    SerialQueue other("other");
    bool onOwn = false;
    bool onOther = true;
    queue.post([&] { onOwn = queue.isCurrent(); });
    other.post([&] { onOther = queue.isCurrent(); });
    queue.drain();
    other.drain();

    EXPECT_FALSE(queue.isCurrent());
    EXPECT_TRUE(onOwn);
    EXPECT_FALSE(onOther);
}

TEST_F(SerialQueueTest, BlockingTaskHoldsBackTheLaterOnes) {
    std::atomic<bool> blockerFinished = false;
    bool laterSawBlockerFinished = false;
    queue.post([&] {
        gate.blocker()();
        blockerFinished = true;
    });
    queue.post([&] { laterSawBlockerFinished = blockerFinished; });

    gate.open();
    queue.drain();

    EXPECT_TRUE(laterSawBlockerFinished);
}

TEST_F(SerialQueueTest, DrainWaitsForEveryEarlierTask) {
    constexpr int kTasks = 1000;
    std::atomic<int> count = 0;
    queue.post(gate.blocker());
    for (int i = 0; i < kTasks; ++i) queue.post([&] { ++count; });
    std::jthread opener([&] { gate.open(); });

    queue.drain();

    EXPECT_EQ(count, kTasks);
}

// --- delayed tasks ---

TEST_F(SerialQueueTest, PostDelayedRunsTasksInDueOrder) {
    // Gaps of 30 ms, so that only a stall that long between two posts could reorder them.
    queue.postDelayed(0.09, signalling(log.entry("c")));
    queue.postDelayed(0.03, signalling(log.entry("a")));
    queue.postDelayed(0.06, signalling(log.entry("b")));

    ASSERT_TRUE(waitForSignals(3));
    EXPECT_THAT(log.names(), ElementsAre("a", "b", "c"));
}

TEST_F(SerialQueueTest, PendingDelayedTaskDoesNotHoldBackPostedOnes) {
    queue.postDelayed(3600, log.entry("delayed"));
    queue.post(log.entry("posted"));
    queue.drain();
    EXPECT_THAT(log.names(), ElementsAre("posted"));
}

TEST_F(SerialQueueTest, CancelledDelayedTaskNeverRuns) {
    queue.postDelayed(0.01, log.entry("cancelled")).cancel();
    queue.postDelayed(0.02, signalling(log.entry("marker")));

    ASSERT_TRUE(waitForSignals(1));
    EXPECT_THAT(log.names(), ElementsAre("marker"));
}

TEST_F(SerialQueueTest, DelayedTaskCancelledByATaskThatRanBeforeItDoesNotRun) {
    // Held back by the gate, all three are due together when it opens.
    queue.post(gate.blocker());
    DelayedTask victim;
    queue.postDelayed(0, [&] { victim.cancel(); });
    victim = queue.postDelayed(0, log.entry("victim"));
    queue.postDelayed(0, signalling(log.entry("marker")));

    gate.open();

    ASSERT_TRUE(waitForSignals(1));
    EXPECT_THAT(log.names(), ElementsAre("marker"));
}

TEST_F(SerialQueueTest, CancellingAfterTheTaskRanOrTwiceIsHarmless) {
    auto task = queue.postDelayed(0, signalling(log.entry("ran")));
    ASSERT_TRUE(waitForSignals(1));

    task.cancel();
    task.cancel();
    queue.drain();

    EXPECT_THAT(log.names(), ElementsAre("ran"));
}

// --- destruction ---

TEST(SerialQueueDestructionTest, RunsTasksAlreadyPostedAndDropsDelayedOnesNotYetDue) {
    constexpr int kTasks = 100;
    Gate gate;
    std::atomic<int> count = 0;
    auto token = std::make_shared<int>(0);
    auto queue = std::make_unique<SerialQueue>("doomed");
    queue->post(gate.blocker());
    for (int i = 0; i < kTasks; ++i) queue->post([&] { ++count; });
    queue->postDelayed(3600, [&count, token] { count += 1000; });
    std::jthread opener([&] { gate.open(); });

    queue.reset();

    EXPECT_EQ(count, kTasks);
    EXPECT_EQ(token.use_count(), 1) << "the dropped task was not destroyed";
}

TEST(SerialQueueDestructionTest, ATaskMayDestroyItsOwnQueueAndTheTasksPostedBeforeStillRun) {
    Gate gate;
    std::binary_semaphore done(0);
    auto owner = std::make_shared<std::unique_ptr<SerialQueue>>(std::make_unique<SerialQueue>("self"));
    auto& queue = **owner;
    queue.post(gate.blocker());
    queue.post([owner] { owner->reset(); });
    queue.post([&done] { done.release(); });
    owner.reset();
    gate.open();
    ASSERT_TRUE(done.try_acquire_for(kPatience));
}

// --- ThreadMainQueue ---

TEST(ThreadMainQueueTest, RunsPostedAndDelayedTasksInOrderOnItsOwnThread) {
    ThreadMainQueue main;
    MainQueue& queue = main;
    std::binary_semaphore done(0);
    std::vector<bool> current;
    queue.post([&] { current.push_back(queue.isCurrent()); });
    queue.postDelayed(0.01, [&] {
        current.push_back(queue.isCurrent());
        done.release();
    });

    ASSERT_TRUE(done.try_acquire_for(kPatience));
    EXPECT_THAT(current, ElementsAre(true, true));
    EXPECT_FALSE(queue.isCurrent());
}

TEST(ThreadMainQueueTest, CancelledDelayedTaskNeverRuns) {
    ThreadMainQueue main;
    MainQueue& queue = main;
    std::atomic<bool> cancelledRan = false;
    std::binary_semaphore done(0);
    auto task = queue.postDelayed(0.01, [&] { cancelledRan = true; });
    task.cancel();
    queue.postDelayed(0.02, [&] { done.release(); });

    ASSERT_TRUE(done.try_acquire_for(kPatience));
    task.cancel();
    EXPECT_FALSE(cancelledRan);
}

}  // namespace
}  // namespace tw
