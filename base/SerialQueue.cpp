#include "base/SerialQueue.h"

#include <future>

namespace tw {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), thread_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(Pending{std::move(task), nullptr});
    }
    wake_.notify_one();
}

DelayedTask SerialQueue::postDelayed(double seconds, Task task) {
    auto flag = DelayedTask::makeFlag();
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds < 0 ? 0 : seconds));
    {
        std::lock_guard lock(mutex_);
        delayed_.emplace(due, Pending{std::move(task), flag});
    }
    wake_.notify_one();
    return DelayedTask(flag);
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

void SerialQueue::drain() {
    std::promise<void> done;
    post([&done] { done.set_value(); });
    done.get_future().wait();
}

bool SerialQueue::takeNext(std::unique_lock<std::mutex>& lock, Task& next) {
    for (;;) {
        const auto now = Clock::now();
        while (!delayed_.empty() && delayed_.begin()->first <= now) {
            ready_.push_back(std::move(delayed_.extract(delayed_.begin()).mapped()));
        }
        // The flag is checked only now: a task that ran before this one may have cancelled it
        // after both fell due.
        while (!ready_.empty() && ready_.front().cancelled && ready_.front().cancelled->load()) {
            ready_.pop_front();
        }
        if (!ready_.empty()) {
            next = std::move(ready_.front().task);
            ready_.pop_front();
            return true;
        }
        if (stopping_) return false;
        if (delayed_.empty()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, delayed_.begin()->first);
        }
    }
}

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    Task next;
    while (takeNext(lock, next)) {
        lock.unlock();
        next();
        next = nullptr;
        lock.lock();
    }
}

}  // namespace tw
