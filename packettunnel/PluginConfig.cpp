#include "packettunnel/PluginConfig.h"

#include <arpa/inet.h>

#include <bit>

namespace tw {

namespace {

std::unexpected<TunnelError> refused(const std::string& why) {
    return std::unexpected(TunnelError{"NetworkManager cannot apply these settings: " + why});
}

std::optional<uint> ipv4(const std::string& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) return std::nullopt;
    return parsed.s_addr;
}

}  // namespace

std::optional<uint> PluginConfig::prefixLength(const std::string& mask) {
    const auto bytes = ipv4(mask);
    if (!bytes) return std::nullopt;
    const auto bits = ntohl(*bytes);
    const auto ones = static_cast<uint>(std::countl_one(bits));
    if (ones < 32 && (bits << ones) != 0) return std::nullopt;
    return ones;
}

std::expected<PluginConfig, TunnelError> PluginConfig::encode(const TunnelNetworkSettings& settings,
                                                              const QString& tunnelDevice) {
    if (settings.ipv4Addresses.size() != 1 || settings.ipv4SubnetMasks.size() != 1) {
        return refused("it takes exactly one IPv4 address and subnet mask");
    }
    const auto gateway = ipv4(settings.tunnelRemoteAddress);
    if (!gateway) return refused("\"" + settings.tunnelRemoteAddress + "\" is not an IPv4 address");
    const auto address = ipv4(settings.ipv4Addresses.front());
    if (!address) return refused("\"" + settings.ipv4Addresses.front() + "\" is not an IPv4 address");
    const auto prefix = prefixLength(settings.ipv4SubnetMasks.front());
    if (!prefix) return refused("\"" + settings.ipv4SubnetMasks.front() + "\" is not a subnet mask");

    PluginConfig config;
    config.generic = {{"tundev", tunnelDevice},
                      {"gateway", *gateway},
                      {"has-ip4", true},
                      {"has-ip6", false}};
    // The settings name no routes: nothing but the interface's own subnet goes into the tunnel.
    config.ip4 = {{"address", *address}, {"prefix", *prefix}, {"never-default", true}};
    return config;
}

}  // namespace tw
