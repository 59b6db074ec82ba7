#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

#include "app/platform/linux/NmConnectionSettings.h"
#include "app/tunnel/TunnelProtocol.h"

namespace tw {

// What the VPN layer reads and writes of a NetworkManager profile. The tunnel-provider protocol
// is the VPN setting: vpn.service-type is the provider's bundle identifier, vpn.data holds
// "server-address", "disconnect-on-sleep" and "enabled" ("yes"/"no"); connection.id is the
// description. A VPN profile without "enabled=yes" counts as disabled.
struct NmProfile {
    QString uuid;
    QString type;
    std::optional<QString> id;
    std::optional<QString> serviceType;
    QMap<QString, QString> vpnData;

    static NmProfile fromSettings(const NmConnectionSettings& settings);
    // A new VPN profile of no provider yet.
    static NmProfile newVpn(QString uuid);

    bool isVpn() const { return type == "vpn"; }
    std::optional<TunnelProtocol> protocol() const;
    void setProtocol(const TunnelProtocol& protocol);
    bool isEnabled() const { return vpnData.value("enabled") == "yes"; }
    void setEnabled(bool enabled);

    // `base` (the profile as NetworkManager last gave it, or nothing for a new one) with these
    // values written over it. A new profile is owned by `owner` alone (connection.permissions),
    // never connects by itself, and takes its IPv4 settings from the plugin.
    NmConnectionSettings toSettings(const NmConnectionSettings& base, const QString& owner) const;

    bool operator==(const NmProfile&) const = default;
};

}  // namespace tw
