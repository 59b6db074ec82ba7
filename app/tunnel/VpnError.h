#pragma once

#include <string>

namespace tw {

// A failure of the platform VPN layer, with the layer's own text kept.
struct VpnError {
    // The codes the service tells apart; anything else is reported with its own code and domain.
    static constexpr int kConfigurationInvalid = 1;
    static constexpr int kConfigurationDisabled = 2;

    int code = 0;
    std::string domain;
    std::string localizedDescription;

    bool operator==(const VpnError&) const = default;
};

}  // namespace tw
