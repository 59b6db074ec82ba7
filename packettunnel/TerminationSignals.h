#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace tw {

// Turns SIGTERM and SIGINT into a quit of the Qt event loop, so that the process ends through its
// destructors (tunnel device removed, bus name given up). One instance per process.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    TerminationSignals();
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    static void handle(int signal);

    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tw
