#pragma once

#include <QDBusConnection>
#include <QDBusPendingReply>

#include "app/platform/linux/NmConnectionSettings.h"

class QObject;

namespace tw {

// The calls and signals of org.freedesktop.NetworkManager.Settings.Connection (one profile) that
// the VPN layer uses.
class NmSettingsConnectionInterface {
public:
    explicit NmSettingsConnectionInterface(QDBusConnection bus) : bus_(std::move(bus)) {}

    // Without secrets.
    QDBusPendingReply<NmConnectionSettings> getSettings(const QString& path) const;
    // Replaces the whole profile.
    QDBusPendingReply<> update(const QString& path, const NmConnectionSettings& settings) const;
    QDBusPendingReply<> remove(const QString& path) const;
    // Updated() of every profile, to a slot taking (QDBusMessage) for the profile's path.
    void subscribeUpdated(QObject* receiver, const char* slot) const;

private:
    QDBusMessage call(const QString& path, const QString& method) const;

    QDBusConnection bus_;
};

}  // namespace tw
