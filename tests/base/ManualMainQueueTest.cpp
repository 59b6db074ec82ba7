#include "tests/support/ManualMainQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <semaphore>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

// Each entry: what ran and the virtual time it saw.
using Trace = std::vector<std::pair<std::string, double>>;

class ManualMainQueueTest : public ::testing::Test {
protected:
    Task record(std::string name) {
        return [this, name = std::move(name)] { trace.emplace_back(name, queue.now()); };
    }

    ManualMainQueue queue;
    Trace trace;
};

// --- immediate tasks ---

TEST_F(ManualMainQueueTest, RunsNothingUntilTheTestRunsIt) {
    queue.post(record("a"));
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(queue.runUntilIdle(), 1u);
    EXPECT_EQ(trace.size(), 1u);
}

TEST_F(ManualMainQueueTest, RunUntilIdleRunsTasksInPostOrderAndTheOnesTheyPost) {
    queue.post([this] {
        trace.emplace_back("a", queue.now());
        queue.post(record("c"));
    });
    queue.post(record("b"));

    EXPECT_EQ(queue.runUntilIdle(), 3u);
    EXPECT_THAT(trace, ElementsAre(Pair("a", 0.0), Pair("b", 0.0), Pair("c", 0.0)));
}

TEST_F(ManualMainQueueTest, IsCurrentOnlyOnTheThreadThatCreatedIt) {
    EXPECT_TRUE(queue.isCurrent());
    bool elsewhere = true;
    std::thread([&] { elsewhere = queue.isCurrent(); }).join();
    EXPECT_FALSE(elsewhere);
}

// --- virtual time ---

TEST_F(ManualMainQueueTest, RunUntilIdleLeavesDelayedTasksThatAreNotDue) {
    queue.postDelayed(1, record("later"));
    queue.postDelayed(0, record("now"));
    queue.postDelayed(-5, record("past"));

    queue.runUntilIdle();

    EXPECT_THAT(trace, ElementsAre(Pair("now", 0.0), Pair("past", 0.0)));
    EXPECT_EQ(queue.pendingDelayedCount(), 1u);
}

TEST_F(ManualMainQueueTest, AdvanceRunsDelayedTasksAtTheirDueTimesInDueOrder) {
    queue.postDelayed(3, record("c"));
    queue.postDelayed(1, record("a"));
    queue.postDelayed(2, record("b"));

    queue.advance(5);

    EXPECT_THAT(trace, ElementsAre(Pair("a", 1.0), Pair("b", 2.0), Pair("c", 3.0)));
    EXPECT_EQ(queue.now(), 5.0);
}

TEST_F(ManualMainQueueTest, AdvanceRunsTasksDueAtTheSameTimeInPostOrder) {
    for (const char* name : {"first", "second", "third"}) queue.postDelayed(2, record(name));

    queue.advance(2);

    EXPECT_THAT(trace, ElementsAre(Pair("first", 2.0), Pair("second", 2.0), Pair("third", 2.0)));
}

TEST_F(ManualMainQueueTest, AdvanceRunsWhatTasksPostDuringTheWindowIfItFallsDueWithinIt) {
    queue.postDelayed(1, [this] {
        trace.emplace_back("tick", queue.now());
        queue.post(record("follow-up"));
        queue.postDelayed(1, record("inside"));
        queue.postDelayed(5, record("outside"));
    });
    queue.postDelayed(1.5, record("between"));

    queue.advance(3);

    EXPECT_THAT(trace, ElementsAre(Pair("tick", 1.0), Pair("follow-up", 1.0), Pair("between", 1.5),
                                   Pair("inside", 2.0)));
    EXPECT_EQ(queue.now(), 3.0);
    EXPECT_EQ(queue.pendingDelayedCount(), 1u);

    queue.advance(3);
    EXPECT_THAT(trace.back(), Pair("outside", 6.0));
}

TEST_F(ManualMainQueueTest, SuccessiveAdvancesAddUp) {
    queue.postDelayed(1, record("a"));
    queue.advance(0.5);
    EXPECT_TRUE(trace.empty());
    queue.advance(0.5);
    EXPECT_THAT(trace, ElementsAre(Pair("a", 1.0)));
}

// --- cancelling ---

TEST_F(ManualMainQueueTest, CancelledTaskNeverRuns) {
    auto task = queue.postDelayed(1, record("cancelled"));
    task.cancel();
    EXPECT_TRUE(task.isCancelled());

    queue.advance(2);

    EXPECT_TRUE(trace.empty());
}

TEST_F(ManualMainQueueTest, TaskCancelledByOneDueAtTheSameTimeDoesNotRun) {
    DelayedTask victim;
    queue.postDelayed(1, [&] { victim.cancel(); });
    victim = queue.postDelayed(1, record("victim"));

    queue.advance(1);

    EXPECT_TRUE(trace.empty());
}

TEST_F(ManualMainQueueTest, CancellingAfterTheTaskRanOrTwiceIsHarmless) {
    auto task = queue.postDelayed(1, record("a"));
    queue.advance(1);
    task.cancel();
    task.cancel();
    DelayedTask().cancel();

    queue.advance(1);

    EXPECT_THAT(trace, ElementsAre(Pair("a", 1.0)));
}

TEST_F(ManualMainQueueTest, CancellingACopyCancelsTheTask) {
    auto task = queue.postDelayed(1, record("a"));
    DelayedTask copy = task;
    copy.cancel();

    queue.advance(1);

    EXPECT_TRUE(task.isCancelled());
    EXPECT_TRUE(trace.empty());
}

// --- other threads ---

TEST_F(ManualMainQueueTest, PostingFromManyThreadsLosesNoTaskAndRunsThemOnTheMainThread) {
    constexpr int kThreads = 4;
    constexpr int kTasksEach = 1000;
    std::atomic<int> ranOnMain = 0;
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kTasksEach; ++i) {
                queue.post([&] { ranOnMain += queue.isCurrent() ? 1 : 0; });
            }
        });
    }
    threads.clear();

    EXPECT_EQ(queue.runUntilIdle(), std::size_t{kThreads * kTasksEach});
    EXPECT_EQ(ranOnMain, kThreads * kTasksEach);
}

TEST_F(ManualMainQueueTest, RunUntilRunsTasksPostedFromAnotherThreadUntilThePredicateHolds) {
    int count = 0;
    std::jthread poster([&] {
        for (int i = 0; i < 3; ++i) queue.post([&] { ++count; });
    });

    EXPECT_TRUE(queue.runUntil([&] { return count == 3; }));
    EXPECT_EQ(count, 3);
}

TEST_F(ManualMainQueueTest, RunUntilWakesForADueDelayedTaskPostedFromAnotherThread) {
    std::atomic<bool> ran = false;
    std::binary_semaphore runSeen(0);
    bool posterSawRun = false;
    std::jthread poster([&] {
        queue.postDelayed(0, [&] {
            ran = true;
            runSeen.release();
        });
        posterSawRun = runSeen.try_acquire_for(std::chrono::seconds(5));
    });

    EXPECT_TRUE(queue.runUntil([&] { return ran.load(); }, std::chrono::seconds(10)));
    poster.join();
    EXPECT_TRUE(posterSawRun);
}

TEST_F(ManualMainQueueTest, RunUntilGivesUpWhenThePredicateNeverHolds) {
    EXPECT_FALSE(queue.runUntil([] { return false; }, std::chrono::milliseconds(20)));
}

}  // namespace
}  // namespace tw
