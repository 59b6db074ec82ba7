#pragma once

#include <expected>
#include <functional>
#include <string>

#include "app/daemon/LocalAPIError.h"
#include "app/daemon/PeltoBusModels.h"

namespace tw {

// The node daemon's request interface. Every operation returns at once and calls its completion
// exactly once, on a worker thread, with the value or the error. Callers that touch model state
// move themselves to the main queue.
class LocalAPI {
public:
    template <typename T>
    using Completion = std::function<void(std::expected<T, LocalAPIError>)>;

    virtual ~LocalAPI() = default;

    virtual void getStatus(Completion<DaemonStatus> completion) = 0;
    virtual void getProfiles(Completion<ProfilesResponse> completion) = 0;
    virtual void switchProfile(const std::string& id, Completion<void> completion) = 0;
    virtual void switchToEmptyProfile(Completion<void> completion) = 0;
    virtual void setWantRunning(bool wantRunning, Completion<void> completion) = 0;
    // The interactive login URL; the response's status code is not looked at.
    virtual void startLogin(Completion<std::string> completion) = 0;
    // The same request as startLogin, through the ordinary status check; the body is ignored.
    virtual void triggerLogin(Completion<void> completion) = 0;
};

}  // namespace tw
