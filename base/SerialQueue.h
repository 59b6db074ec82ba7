#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "base/MainQueue.h"

namespace tw {

// One thread that runs posted tasks in order. A task may block (the event-stream loop occupies
// its queue for as long as it runs); later tasks wait behind it. The destructor runs the tasks
// already posted, drops delayed tasks that are not yet due, and joins the thread. Destroyed by
// one of its own tasks, it cannot join: the thread then owns what it still needs, finishes the
// tasks already posted and ends on its own.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(Task task);
    DelayedTask postDelayed(double seconds, Task task);
    bool isCurrent() const;
    const std::string& label() const { return label_; }

    // Blocks until every task posted before this call has run. Must not be called on the queue.
    void drain();

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Task task;
        std::shared_ptr<std::atomic<bool>> cancelled;  // null for plain posts
    };
    // Shared with the thread, which may outlive the queue.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Pending> ready;
        std::multimap<Clock::time_point, Pending> delayed;
        bool stopping = false;
    };

    static void run(const std::shared_ptr<State>& state);
    static bool takeNext(State& state, std::unique_lock<std::mutex>& lock, Task& next);

    std::string label_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace tw
