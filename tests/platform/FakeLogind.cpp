#include "tests/platform/FakeLogind.h"

#include <QDBusMessage>

namespace tw {

namespace {

const QString kName = "org.freedesktop.login1";

}  // namespace

FakeLogind::FakeLogind()
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SystemBus, "fake-logind")) {
    serving_ = bus_.registerService(kName);
}

FakeLogind::~FakeLogind() {
    bus_.unregisterService(kName);
    QDBusConnection::disconnectFromBus("fake-logind");
}

void FakeLogind::prepareForSleep(bool sleeping) {
    auto signal = QDBusMessage::createSignal("/org/freedesktop/login1",
                                             "org.freedesktop.login1.Manager", "PrepareForSleep");
    signal << sleeping;
    bus_.send(signal);
}

}  // namespace tw
