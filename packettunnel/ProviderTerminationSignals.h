#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace tw {

// Turns SIGTERM and SIGINT into a quit of the Qt event loop, so that the process ends through its
// destructors (tunnel device removed, bus name given up). One instance per process.
class ProviderTerminationSignals final : public QObject {
    Q_OBJECT

public:
    ProviderTerminationSignals();
    ~ProviderTerminationSignals() override;
    ProviderTerminationSignals(const ProviderTerminationSignals&) = delete;
    ProviderTerminationSignals& operator=(const ProviderTerminationSignals&) = delete;

private:
    static void handle(int signal);

    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tw
