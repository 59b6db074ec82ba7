#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <chrono>
#include <functional>

namespace tw {

// Runs the Qt event loop until `done()` holds or `timeout` of real time has passed (a safety
// net, never the thing a test checks). Returns whether `done()` held.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    QTimer wake;  // keeps the wait below from sleeping past the deadline
    wake.start(10);
    const QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace tw
