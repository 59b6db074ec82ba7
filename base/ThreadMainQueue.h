#pragma once

#include "base/MainQueue.h"
#include "base/SerialQueue.h"

namespace tw {

// The main queue of a program without a Qt event loop (the stand-in daemon, tests that need a
// real thread behind the main queue).
class ThreadMainQueue final : public MainQueue {
public:
    ThreadMainQueue() : queue_("main") {}

    void post(Task task) override { queue_.post(std::move(task)); }
    DelayedTask postDelayed(double seconds, Task task) override {
        return queue_.postDelayed(seconds, std::move(task));
    }
    bool isCurrent() const override { return queue_.isCurrent(); }
    void drain() { queue_.drain(); }

private:
    SerialQueue queue_;
};

}  // namespace tw
