#pragma once

#include <QObject>
#include <cstddef>

#include "base/MainQueue.h"

namespace tw {

// The main queue on Qt's event loop: posted tasks are queued invocations on the thread that built
// the queue, delayed ones single-shot timers there. Tasks still queued when the queue goes are
// dropped.
class QtMainQueue final : public MainQueue {
public:
    QtMainQueue();

    void post(Task task) override;
    DelayedTask postDelayed(double seconds, Task task) override;
    bool isCurrent() const override;

    // Delayed tasks whose timers still run: each one wakes the thread when it falls due.
    std::size_t pendingTimers() const;

private:
    QObject context_;
};

}  // namespace tw
