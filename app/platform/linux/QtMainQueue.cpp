#include "app/platform/linux/QtMainQueue.h"

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

namespace tw {

QtMainQueue::QtMainQueue() = default;

void QtMainQueue::post(Task task) {
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

DelayedTask QtMainQueue::postDelayed(double seconds, Task task) {
    auto cancelled = DelayedTask::makeFlag();
    const double milliseconds = std::clamp(std::ceil(seconds * 1000), 0.0, double(INT_MAX));
    // A timer runs on the thread that starts it: start it on the queue's own thread.
    post([this, cancelled, task = std::move(task), milliseconds] {
        QTimer::singleShot(static_cast<int>(milliseconds), Qt::PreciseTimer, &context_,
                           [cancelled, task] {
                               if (!cancelled->load()) task();
                           });
    });
    return DelayedTask(cancelled);
}

bool QtMainQueue::isCurrent() const { return QThread::currentThread() == context_.thread(); }

}  // namespace tw
