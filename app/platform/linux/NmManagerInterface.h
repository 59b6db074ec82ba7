#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace tw {

// The calls of org.freedesktop.NetworkManager that the VPN layer uses.
class NmManagerInterface {
public:
    explicit NmManagerInterface(QDBusConnection bus) : bus_(std::move(bus)) {}

    // Lets NetworkManager pick the device (a VPN rides on the base connection with the default
    // route); the active connection's path.
    QDBusPendingReply<QDBusObjectPath> activateConnection(const QString& profilePath) const;
    QDBusPendingReply<> deactivateConnection(const QString& activePath) const;
    // The ActiveConnections property (ao).
    QDBusPendingReply<QDBusVariant> activeConnections() const;

private:
    QDBusConnection bus_;
};

}  // namespace tw
