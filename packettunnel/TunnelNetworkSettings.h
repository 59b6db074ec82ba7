#pragma once

#include <string>
#include <vector>

namespace tw {

// The network settings a packet-tunnel provider asks the platform to apply to its tunnel. What is
// not here (routes, DNS, IPv6, proxies, MTU) is never set.
struct TunnelNetworkSettings {
    std::string tunnelRemoteAddress;
    std::vector<std::string> ipv4Addresses;
    std::vector<std::string> ipv4SubnetMasks;

    bool operator==(const TunnelNetworkSettings&) const = default;
};

}  // namespace tw
