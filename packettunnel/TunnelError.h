#pragma once

#include <string>

namespace tw {

// Why the platform did not apply the tunnel's settings, in the platform's own words.
struct TunnelError {
    std::string localizedDescription;

    bool operator==(const TunnelError&) const = default;
};

}  // namespace tw
