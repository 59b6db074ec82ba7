#pragma once

#include <functional>
#include <optional>

#include "packettunnel/TunnelError.h"
#include "packettunnel/TunnelNetworkSettings.h"

namespace tw {

// What the packet-tunnel provider needs of the platform.
class TunnelPlatform {
public:
    using Completion = std::function<void(std::optional<TunnelError>)>;

    virtual ~TunnelPlatform() = default;

    // Applies `settings` to the tunnel; `completion` is called exactly once, at once or later,
    // with nothing when they are in force or the platform's error when they are not.
    virtual void setTunnelNetworkSettings(const TunnelNetworkSettings& settings,
                                          Completion completion) = 0;
};

}  // namespace tw
