#include "app/platform/linux/NmSettingsInterface.h"

#include "app/platform/linux/NmService.h"

namespace tw {

namespace {

const QString kSettingsPath = "/org/freedesktop/NetworkManager/Settings";
const QString kSettingsInterface = "org.freedesktop.NetworkManager.Settings";

}  // namespace

QDBusMessage NmSettingsInterface::call(const QString& method) const {
    return QDBusMessage::createMethodCall(NmService::kName, kSettingsPath, kSettingsInterface,
                                          method);
}

QDBusPendingReply<QList<QDBusObjectPath>> NmSettingsInterface::listConnections() const {
    return bus_.asyncCall(call("ListConnections"));
}

QDBusPendingReply<QDBusObjectPath> NmSettingsInterface::addConnection(
    const NmConnectionSettings& settings) const {
    auto message = call("AddConnection");
    message << QVariant::fromValue(settings);
    return bus_.asyncCall(message);
}

QDBusPendingReply<QDBusObjectPath> NmSettingsInterface::getConnectionByUuid(
    const QString& uuid) const {
    auto message = call("GetConnectionByUuid");
    message << uuid;
    return bus_.asyncCall(message);
}

void NmSettingsInterface::subscribe(QObject* receiver, const char* newConnectionSlot,
                                    const char* connectionRemovedSlot) const {
    auto bus = bus_;
    bus.connect(NmService::kName, kSettingsPath, kSettingsInterface, "NewConnection", receiver,
                newConnectionSlot);
    bus.connect(NmService::kName, kSettingsPath, kSettingsInterface, "ConnectionRemoved", receiver,
                connectionRemovedSlot);
}

}  // namespace tw
