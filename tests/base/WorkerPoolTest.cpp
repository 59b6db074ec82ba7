#include "base/WorkerPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>

namespace tw {
namespace {

// Only bounds a wait that should end at once, so that a fault fails the test instead of hanging.
constexpr auto kPatience = std::chrono::seconds(5);

TEST(WorkerPoolTest, RunsSubmittedWorkConcurrently) {
    // Each task waits for the other: both get through only on two threads at once.
    std::binary_semaphore firstArrived(0);
    std::binary_semaphore secondArrived(0);
    std::atomic<int> metPartner = 0;
    {
        WorkerPool pool(2);
        pool.submit([&] {
            firstArrived.release();
            if (secondArrived.try_acquire_for(kPatience)) ++metPartner;
        });
        pool.submit([&] {
            secondArrived.release();
            if (firstArrived.try_acquire_for(kPatience)) ++metPartner;
        });
    }
    EXPECT_EQ(metPartner, 2);
}

// Counts tasks running at once; each holds its thread until the test lets go.
class Occupancy {
public:
    Task task() {
        return [this] {
            std::unique_lock lock(mutex_);
            peak_ = std::max(peak_, ++running_);
            changed_.notify_all();
            changed_.wait_for(lock, kPatience, [this] { return released_; });
            --running_;
        };
    }
    bool waitUntilRunning(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return running_ >= count; });
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }
    int peak() const {
        std::lock_guard lock(mutex_);
        return peak_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int running_ = 0;
    int peak_ = 0;
    bool released_ = false;
};

TEST(WorkerPoolTest, NeverRunsMoreThanMaxThreadsTasksAtOnce) {
    constexpr int kMaxThreads = 3;
    Occupancy occupancy;
    std::atomic<int> finished = 0;
    {
        WorkerPool pool(kMaxThreads);
        for (int i = 0; i < 4 * kMaxThreads; ++i) {
            pool.submit([&, task = occupancy.task()] {
                task();
                ++finished;
            });
        }
        EXPECT_TRUE(occupancy.waitUntilRunning(kMaxThreads));
        occupancy.release();
    }
    EXPECT_EQ(occupancy.peak(), kMaxThreads);
    EXPECT_EQ(finished, 4 * kMaxThreads);
}

TEST(WorkerPoolTest, ZeroMaxThreadsStillRunsWork) {
    std::atomic<int> finished = 0;
    {
        WorkerPool pool(0);
        for (int i = 0; i < 10; ++i) pool.submit([&] { ++finished; });
    }
    EXPECT_EQ(finished, 10);
}

TEST(WorkerPoolTest, DestructorFinishesSubmittedWork) {
    constexpr int kTasks = 200;
    std::atomic<int> finished = 0;
    {
        WorkerPool pool(4);
        for (int i = 0; i < kTasks; ++i) pool.submit([&] { ++finished; });
    }
    EXPECT_EQ(finished, kTasks);
}

TEST(WorkerPoolTest, DestructorFinishesWorkThatRunningWorkSubmits) {
    // A binary tree of tasks, each submitting its two children, started just as the pool is
    // destroyed: new threads start while the destructor joins.
    constexpr int kDepth = 9;
    constexpr int kTasks = (1 << (kDepth + 1)) - 1;
    std::atomic<int> finished = 0;
    std::binary_semaphore start(0);
    auto pool = std::make_unique<WorkerPool>(16);
    WorkerPool* raw = pool.get();
    std::function<void(int)> node = [&](int depth) {
        if (depth < kDepth) {
            for (int child = 0; child < 2; ++child) raw->submit([&, depth] { node(depth + 1); });
        }
        ++finished;
    };
    pool->submit([&] {
        (void)start.try_acquire_for(kPatience);
        node(0);
    });

    start.release();
    pool.reset();

    EXPECT_EQ(finished, kTasks);
}

}  // namespace
}  // namespace tw
