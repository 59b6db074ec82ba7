#include "base/SerialQueue.h"

#include <future>

namespace tw {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()), thread_([state = state_] { run(state); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (isCurrent()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::post(Task task) {
    {
        std::lock_guard lock(state_->mutex);
        state_->ready.push_back(Pending{std::move(task), nullptr});
    }
    state_->wake.notify_one();
}

DelayedTask SerialQueue::postDelayed(double seconds, Task task) {
    auto flag = DelayedTask::makeFlag();
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds < 0 ? 0 : seconds));
    {
        std::lock_guard lock(state_->mutex);
        state_->delayed.emplace(due, Pending{std::move(task), flag});
    }
    state_->wake.notify_one();
    return DelayedTask(flag);
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

void SerialQueue::drain() {
    std::promise<void> done;
    post([&done] { done.set_value(); });
    done.get_future().wait();
}

bool SerialQueue::takeNext(State& state, std::unique_lock<std::mutex>& lock, Task& next) {
    for (;;) {
        const auto now = Clock::now();
        while (!state.delayed.empty() && state.delayed.begin()->first <= now) {
            state.ready.push_back(std::move(state.delayed.extract(state.delayed.begin()).mapped()));
        }
        // The flag is checked only now: a task that ran before this one may have cancelled it
        // after both fell due.
        while (!state.ready.empty() && state.ready.front().cancelled && state.ready.front().cancelled->load()) {
            state.ready.pop_front();
        }
        if (!state.ready.empty()) {
            next = std::move(state.ready.front().task);
            state.ready.pop_front();
            return true;
        }
        if (state.stopping) return false;
        if (state.delayed.empty()) {
            state.wake.wait(lock);
        } else {
            state.wake.wait_until(lock, state.delayed.begin()->first);
        }
    }
}

void SerialQueue::run(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    Task next;
    while (takeNext(*state, lock, next)) {
        lock.unlock();
        next();
        next = nullptr;
        lock.lock();
    }
    // Delayed tasks not yet due are dropped here, with the queue, not when the thread ends.
    state->delayed.clear();
}

}  // namespace tw
