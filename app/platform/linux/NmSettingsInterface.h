#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QList>

#include "app/platform/linux/NmConnectionSettings.h"

class QObject;

namespace tw {

// The calls and signals of org.freedesktop.NetworkManager.Settings that the VPN layer uses.
class NmSettingsInterface {
public:
    explicit NmSettingsInterface(QDBusConnection bus) : bus_(std::move(bus)) {}

    QDBusPendingReply<QList<QDBusObjectPath>> listConnections() const;
    // Saved to disk at once.
    QDBusPendingReply<QDBusObjectPath> addConnection(const NmConnectionSettings& settings) const;
    QDBusPendingReply<QDBusObjectPath> getConnectionByUuid(const QString& uuid) const;
    // Slots taking (QDBusObjectPath).
    void subscribe(QObject* receiver, const char* newConnectionSlot,
                   const char* connectionRemovedSlot) const;

private:
    QDBusMessage call(const QString& method) const;

    QDBusConnection bus_;
};

}  // namespace tw
