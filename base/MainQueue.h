#pragma once

#include <functional>

#include "base/DelayedTask.h"

namespace tw {

using Task = std::function<void()>;

// The sequence that owns every model object. Posting is safe from any thread; tasks run one at a
// time, in the order they were posted (delayed tasks in the order they fall due).
class MainQueue {
public:
    virtual ~MainQueue() = default;

    virtual void post(Task task) = 0;
    virtual DelayedTask postDelayed(double seconds, Task task) = 0;
    // True on the thread that runs this queue's tasks.
    virtual bool isCurrent() const = 0;
};

}  // namespace tw
