#pragma once

#include <expected>
#include <functional>

#include "app/core/HelperRegistrationError.h"
#include "app/core/HelperRegistrationStatus.h"

namespace tw {

// The system's registration of the privileged helper as a service it starts on demand. Each
// operation calls its completion once, on any thread (a registration destroyed first may drop
// it).
class HelperRegistration {
public:
    using Result = std::expected<void, HelperRegistrationError>;
    using StatusCompletion = std::function<void(HelperRegistrationStatus)>;
    using Completion = std::function<void(Result)>;

    virtual ~HelperRegistration() = default;

    virtual void status(StatusCompletion completion) = 0;
    // Enables and starts the helper without asking the user anything, so it fails (notAuthorized)
    // where the user may not change system services unasked. Registering an enabled helper
    // succeeds.
    virtual void registerService(Completion completion) = 0;
    // The same, but the system may ask the user to authorise it: the user's approval of the
    // helper.
    virtual void approve(Completion completion) = 0;
};

}  // namespace tw
