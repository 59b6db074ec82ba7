#pragma once

#include <QDBusConnection>
#include <QDBusPendingReply>
#include <QVariantMap>

class QObject;

namespace tw {

// The properties and signals of org.freedesktop.NetworkManager.Connection.Active that the VPN
// layer uses.
class NmActiveConnectionInterface {
public:
    // NMActiveConnectionState.
    static constexpr uint kUnknown = 0;
    static constexpr uint kActivating = 1;
    static constexpr uint kActivated = 2;
    static constexpr uint kDeactivating = 3;
    static constexpr uint kDeactivated = 4;

    explicit NmActiveConnectionInterface(QDBusConnection bus) : bus_(std::move(bus)) {}

    // All properties ("Uuid", "State", ...).
    QDBusPendingReply<QVariantMap> properties(const QString& path) const;
    // StateChanged(u state, u reason) of every active connection, to a slot taking
    // (uint, uint, QDBusMessage) for the connection's path.
    void subscribeStateChanged(QObject* receiver, const char* slot) const;

private:
    QDBusConnection bus_;
};

}  // namespace tw
