#pragma once

#include <QString>
#include <QVariantMap>
#include <expected>
#include <optional>

#include "packettunnel/TunnelError.h"
#include "packettunnel/TunnelNetworkSettings.h"

namespace tw {

// Tunnel settings in the form NetworkManager takes from a VPN plugin: the generic `Config`
// dictionary and the `Ip4Config` one. IPv4 values are the address's four network-order bytes read
// as a native uint32, as NetworkManager reads them back.
struct PluginConfig {
    QVariantMap generic;
    QVariantMap ip4;

    // Settings NetworkManager cannot take (not exactly one IPv4 address and mask, an address that
    // is not IPv4, a mask that is not contiguous) are refused with the reason.
    static std::expected<PluginConfig, TunnelError> encode(const TunnelNetworkSettings& settings,
                                                           const QString& tunnelDevice);
    // The prefix length of a contiguous IPv4 mask.
    static std::optional<uint> prefixLength(const std::string& mask);
};

}  // namespace tw
