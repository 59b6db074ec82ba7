#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/core/LoginViewState.h"
#include "app/daemon/PeltoBusModels.h"
#include "app/tunnel/VPNConnectionStatus.h"

namespace tw {

// What the panel shows of the application, the extension service and the update checker, read
// at one moment.
struct MenuInputs {
    LoginViewState login;
    VPNConnectionStatus vpnStatus = VPNConnectionStatus::unknown;
    std::vector<ProfileInfo> profiles;
    bool helperNeedsApproval = false;
    std::optional<std::string> helperRegistrationError;
    bool canCheckForUpdates = false;
    bool isExtensionApproved = false;
    bool extensionNeedsUserApproval = false;
    std::optional<std::string> extensionLastError;
    bool isWhiteLabelBuild = false;
};

}  // namespace tw
