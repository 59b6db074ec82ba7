#include "app/platform/linux/QtMainQueue.h"

#include <QPointer>
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
    // Set while the timer waits; cleared once it has fired.
    auto waiting = std::make_shared<QPointer<QTimer>>();
    // A timer runs on the thread that starts it: start it on the queue's own thread.
    post([this, cancelled, waiting, task = std::move(task), milliseconds] {
        if (cancelled->load()) return;
        auto* timer = new QTimer(&context_);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, &context_, [timer, waiting, cancelled, task] {
            timer->deleteLater();
            waiting->clear();
            if (!cancelled->load()) task();
        });
        *waiting = timer;
        timer->start(static_cast<int>(milliseconds));
    });
    // Cancelled on the queue's thread, a waiting timer goes at once; from another thread, or
    // before the timer was started, the flag alone keeps the task from running.
    return DelayedTask(cancelled, [context = QPointer<QObject>(&context_), waiting] {
        if (context && QThread::currentThread() == context->thread() && *waiting) {
            delete waiting->data();
        }
    });
}

std::size_t QtMainQueue::pendingTimers() const {
    const auto timers = context_.findChildren<QTimer*>();
    return static_cast<std::size_t>(std::ranges::count_if(timers, &QTimer::isActive));
}

bool QtMainQueue::isCurrent() const { return QThread::currentThread() == context_.thread(); }

}  // namespace tw
