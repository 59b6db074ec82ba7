#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "base/MainQueue.h"

namespace tw {

// A main queue on virtual time for tests. Nothing runs until the test says so: `runUntilIdle`
// runs every task that is due now (and the ones those post), `advance` moves the clock forward,
// running delayed tasks at their due times in order. Posting is safe from any thread; the thread
// that created the queue is its "main" thread.
class ManualMainQueue final : public MainQueue {
public:
    ManualMainQueue();

    void post(Task task) override;
    DelayedTask postDelayed(double seconds, Task task) override;
    bool isCurrent() const override;

    // Virtual seconds since construction.
    double now() const;
    // Runs every task due at the current virtual time. Returns how many ran.
    std::size_t runUntilIdle();
    // Moves virtual time forward by `seconds`, running what falls due on the way.
    void advance(double seconds);
    // Runs tasks as they are posted from other threads until `done()` holds or `timeout` of real
    // time has passed. Returns whether `done()` held.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Number of delayed tasks not yet run (cancelled ones included until they fall due).
    std::size_t pendingDelayedCount() const;

private:
    struct Pending {
        Task task;
        std::shared_ptr<std::atomic<bool>> cancelled;  // null for plain posts
    };
    bool runOneDue();
    bool hasDueLocked() const;

    const std::thread::id owner_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    double now_ = 0;
    std::uint64_t sequence_ = 0;
    std::deque<Pending> ready_;
    std::map<std::pair<double, std::uint64_t>, Pending> delayed_;
};

}  // namespace tw
