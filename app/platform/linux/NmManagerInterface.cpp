#include "app/platform/linux/NmManagerInterface.h"

#include "app/platform/linux/NmService.h"

namespace tw {

namespace {

const QString kManagerInterface = "org.freedesktop.NetworkManager";

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(NmService::kName, NmService::kPath, kManagerInterface,
                                          method);
}

}  // namespace

QDBusPendingReply<QDBusObjectPath> NmManagerInterface::activateConnection(
    const QString& profilePath) const {
    auto message = call("ActivateConnection");
    message << QVariant::fromValue(QDBusObjectPath(profilePath))
            << QVariant::fromValue(QDBusObjectPath("/"))
            << QVariant::fromValue(QDBusObjectPath("/"));
    return bus_.asyncCall(message);
}

QDBusPendingReply<> NmManagerInterface::deactivateConnection(const QString& activePath) const {
    auto message = call("DeactivateConnection");
    message << QVariant::fromValue(QDBusObjectPath(activePath));
    return bus_.asyncCall(message);
}

QDBusPendingReply<QDBusVariant> NmManagerInterface::activeConnections() const {
    auto message = QDBusMessage::createMethodCall(NmService::kName, NmService::kPath,
                                                  "org.freedesktop.DBus.Properties", "Get");
    message << kManagerInterface << QString("ActiveConnections");
    return bus_.asyncCall(message);
}

}  // namespace tw
