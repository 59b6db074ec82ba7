#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "base/UniqueFd.h"

namespace tw {

// Turns SIGTERM (also what ends the desktop session's processes), SIGINT (Ctrl+C) and SIGHUP (the
// terminal gone) into one call of `quit` on the Qt main thread, so that every way the application
// ends runs the same termination as its Quit item. Once per process.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> quit);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    UniqueFd readEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tw
