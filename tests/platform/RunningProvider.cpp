#include "tests/platform/RunningProvider.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include "tests/platform/QtWait.h"

namespace tw {

RunningProvider::RunningProvider(QStringList arguments) {
    process_.setProgram(QString(TW_EXTENSION_DIR) + "/tarnwick-packettunnel");
    process_.setArguments(arguments);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
    process_.waitForStarted();
}

RunningProvider::~RunningProvider() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished();
    }
}

bool RunningProvider::waitUntilServing() {
    return waitUntil([] {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(kBusName).value();
    });
}

QStringList RunningProvider::lines() {
    output_ += QString::fromUtf8(process_.readAllStandardError());
    return output_.split('\n', Qt::SkipEmptyParts);
}

bool RunningProvider::waitForLine(const QString& line) {
    return waitUntil([&] { return lines().contains(line); });
}

bool RunningProvider::waitForExit() {
    return waitUntil([&] { return process_.state() == QProcess::NotRunning; });
}

int RunningProvider::terminate() {
    process_.terminate();
    if (!waitForExit() || process_.exitStatus() != QProcess::NormalExit) return -1;
    return process_.exitCode();
}

}  // namespace tw
