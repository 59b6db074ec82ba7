#pragma once

#include <string>

namespace tw {

// Why the helper could not be registered or approved.
struct HelperRegistrationError {
    enum class Code {
        serviceManagerUnreachable,
        notAuthorized,  // refused, or the user dismissed the authorisation
        notEnabled,
        notReloaded,
        notStarted,
    };

    Code code;
    std::string detail;  // the service manager's own text; may be empty

    // The fixed text of the code, followed by the detail when there is one.
    std::string description() const;

    bool operator==(const HelperRegistrationError&) const = default;
};

}  // namespace tw
