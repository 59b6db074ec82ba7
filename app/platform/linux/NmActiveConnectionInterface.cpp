#include "app/platform/linux/NmActiveConnectionInterface.h"

#include "app/platform/linux/NmService.h"

namespace tw {

namespace {

const QString kActiveConnectionInterface = "org.freedesktop.NetworkManager.Connection.Active";

}  // namespace

QDBusPendingReply<QVariantMap> NmActiveConnectionInterface::properties(const QString& path) const {
    auto message = QDBusMessage::createMethodCall(NmService::kName, path,
                                                  "org.freedesktop.DBus.Properties", "GetAll");
    message << kActiveConnectionInterface;
    return bus_.asyncCall(message);
}

void NmActiveConnectionInterface::subscribeStateChanged(QObject* receiver, const char* slot) const {
    auto bus = bus_;
    bus.connect(NmService::kName, "", kActiveConnectionInterface, "StateChanged", receiver, slot);
}

}  // namespace tw
