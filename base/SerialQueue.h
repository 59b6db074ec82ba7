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
// already posted, drops delayed tasks that are not yet due, and joins the thread.
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

    void run();
    bool takeNext(std::unique_lock<std::mutex>& lock, Task& next);

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> ready_;
    std::multimap<Clock::time_point, Pending> delayed_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tw
