#pragma once

#include <memory>

#include "base/DelayedTask.h"
#include "base/MainQueue.h"

namespace tw {

// A task that runs once on the main queue after a delay, owned by the object that starts it.
// Starting again replaces the pending task, stop() cancels it, and destroying the timer cancels
// it: a task can never outlive its owner. Used on the main queue only.
class OneShotTimer {
public:
    explicit OneShotTimer(std::shared_ptr<MainQueue> queue) : queue_(std::move(queue)) {}
    ~OneShotTimer() { stop(); }
    OneShotTimer(const OneShotTimer&) = delete;
    OneShotTimer& operator=(const OneShotTimer&) = delete;

    void start(double seconds, Task task) {
        stop();
        auto fired = std::make_shared<bool>(false);
        fired_ = fired;
        pending_ = queue_->postDelayed(seconds, [fired, task = std::move(task)] {
            *fired = true;
            task();
        });
    }

    void stop() {
        pending_.cancel();
        pending_ = DelayedTask();
        fired_.reset();
    }

    // Started, and neither stopped nor fired yet.
    bool isRunning() const { return fired_ && !*fired_; }

private:
    const std::shared_ptr<MainQueue> queue_;
    DelayedTask pending_;
    std::shared_ptr<bool> fired_;
};

}  // namespace tw
