#pragma once

#include <optional>
#include <string>

namespace tw {

// The tunnel-provider settings of a VPN configuration.
struct TunnelProtocol {
    std::optional<std::string> serverAddress;
    std::optional<std::string> providerBundleIdentifier;
    bool disconnectOnSleep = false;

    bool operator==(const TunnelProtocol&) const = default;
};

}  // namespace tw
