#pragma once

#include <string>

namespace tw {

// What the platform knows about one installed system extension.
struct SystemExtensionProperties {
    std::string identifier;
    std::string version;  // the short version string
    bool isEnabled = false;
    bool isAwaitingUserApproval = false;
    bool isUninstalling = false;

    bool operator==(const SystemExtensionProperties&) const = default;
};

}  // namespace tw
