#pragma once

namespace tw {

// Where the privileged helper's registration with the system stands, with the numeric codes the
// log and the start-up logic use.
enum class HelperRegistrationStatus : int {
    // Not registered, or the registration could not be read.
    notRegistered = 0,
    enabled = 1,
    // Installed, but it runs only once the user (an administrator) allows it.
    requiresApproval = 2,
    // The system has no helper to register.
    notFound = 3,
};

}  // namespace tw
