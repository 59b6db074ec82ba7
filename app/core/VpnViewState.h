#pragma once

#include "app/tunnel/VPNConnectionStatus.h"

namespace tw {

struct VpnViewState {
    VPNConnectionStatus status = VPNConnectionStatus::unknown;
    bool operator==(const VpnViewState&) const = default;
};

}  // namespace tw
