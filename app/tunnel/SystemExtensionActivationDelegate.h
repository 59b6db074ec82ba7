#pragma once

#include <functional>

#include "app/tunnel/SystemExtensionError.h"
#include "app/tunnel/SystemExtensionProperties.h"
#include "app/tunnel/SystemExtensionReplacementAction.h"
#include "app/tunnel/SystemExtensionRequestResult.h"

namespace tw {

// The answers to one activation request. Every member is set by the requester; the platform may
// call them from any thread, and each returns at once.
struct SystemExtensionActivationDelegate {
    using ReplacementAnswer = std::function<void(SystemExtensionReplacementAction)>;

    // An extension of another version is installed. `answer` is called exactly once, later and
    // from any thread; the request goes on only once it has been.
    std::function<void(const SystemExtensionProperties& installed,
                       const SystemExtensionProperties& replacement, ReplacementAnswer answer)>
        replacingExtension;
    // The request waits for the user to allow the extension; it still ends with one of the two
    // below (the platform fails a waiting request that a newer one replaces with
    // SystemExtensionError::kRequestSuperseded).
    std::function<void()> needsUserApproval;
    // The end of the request: exactly one of these two is called, once.
    std::function<void(SystemExtensionRequestResult)> finished;
    std::function<void(const SystemExtensionError&)> failed;
};

}  // namespace tw
