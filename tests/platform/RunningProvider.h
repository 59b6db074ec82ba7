#pragma once

#include <QProcess>
#include <QStringList>
#include <string>

namespace tw {

// The bundle's tarnwick-packettunnel started by the test (as NetworkManager would start it) on
// the sandbox's bus, with its standard error collected.
class RunningProvider {
public:
    static inline const QString kBusName = TW_EXTENSION_IDENTIFIER;

    explicit RunningProvider(QStringList arguments = {});
    ~RunningProvider();
    RunningProvider(const RunningProvider&) = delete;
    RunningProvider& operator=(const RunningProvider&) = delete;

    // Waits until the provider owns its bus name.
    bool waitUntilServing();
    // Waits until standard error holds `line`.
    bool waitForLine(const QString& line);
    QStringList lines();
    // SIGTERM; waits for the exit. The exit code, or -1 when it crashed or did not end.
    int terminate();
    bool waitForExit();
    QProcess& process() { return process_; }

private:
    QProcess process_;
    QString output_;
};

}  // namespace tw
