#include "tests/support/ManualMainQueue.h"

namespace tw {

ManualMainQueue::ManualMainQueue() : owner_(std::this_thread::get_id()) {}

void ManualMainQueue::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(Pending{std::move(task), nullptr});
    }
    posted_.notify_all();
}

DelayedTask ManualMainQueue::postDelayed(double seconds, Task task) {
    auto flag = DelayedTask::makeFlag();
    {
        std::lock_guard lock(mutex_);
        delayed_.emplace(std::pair(now_ + (seconds < 0 ? 0 : seconds), sequence_++),
                         Pending{std::move(task), flag});
    }
    posted_.notify_all();
    return DelayedTask(flag);
}

bool ManualMainQueue::isCurrent() const { return std::this_thread::get_id() == owner_; }

double ManualMainQueue::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::size_t ManualMainQueue::pendingDelayedCount() const {
    std::lock_guard lock(mutex_);
    return delayed_.size();
}

bool ManualMainQueue::hasDueLocked() const {
    return !ready_.empty() || (!delayed_.empty() && delayed_.begin()->first.first <= now_);
}

bool ManualMainQueue::runOneDue() {
    Task task;
    {
        std::lock_guard lock(mutex_);
        while (!delayed_.empty() && delayed_.begin()->first.first <= now_) {
            ready_.push_back(std::move(delayed_.extract(delayed_.begin()).mapped()));
        }
        // The flag is checked only now: a task that ran before this one may have cancelled it
        // after both fell due.
        while (!ready_.empty() && ready_.front().cancelled && ready_.front().cancelled->load()) {
            ready_.pop_front();
        }
        if (ready_.empty()) return false;
        task = std::move(ready_.front().task);
        ready_.pop_front();
    }
    task();
    return true;
}

std::size_t ManualMainQueue::runUntilIdle() {
    std::size_t count = 0;
    while (runOneDue()) ++count;
    return count;
}

void ManualMainQueue::advance(double seconds) {
    double target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + seconds;
    }
    for (;;) {
        runUntilIdle();
        std::lock_guard lock(mutex_);
        if (delayed_.empty() || delayed_.begin()->first.first > target) {
            now_ = target;
            break;
        }
        now_ = delayed_.begin()->first.first;
    }
    runUntilIdle();
}

bool ManualMainQueue::runUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        runUntilIdle();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        // A delayed task posted from another thread may be due already (a zero delay).
        if (!posted_.wait_until(lock, deadline, [this] { return hasDueLocked(); })) {
            lock.unlock();
            runUntilIdle();
            return done();
        }
    }
}

}  // namespace tw
