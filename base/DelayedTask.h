#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace tw {

// Handle of a task posted with a delay. Cancelling invalidates the task; cancelling a task that
// has already run, or cancelling twice, is harmless. Copies share the same task. Destroying the
// handle does not cancel: owners that want that keep the handle as a member and cancel it in
// their destructor. A queue may also give a release, run by the first cancel, that drops what
// would otherwise still wake it when the task falls due.
class DelayedTask {
public:
    DelayedTask() = default;
    explicit DelayedTask(std::shared_ptr<std::atomic<bool>> cancelled,
                         std::function<void()> release = {})
        : cancelled_(std::move(cancelled)), release_(std::move(release)) {}

    void cancel() {
        if (cancelled_ && !cancelled_->exchange(true) && release_) release_();
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }

    // The flag the queue checks before running the task.
    static std::shared_ptr<std::atomic<bool>> makeFlag() {
        return std::make_shared<std::atomic<bool>>(false);
    }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::function<void()> release_;
};

}  // namespace tw
