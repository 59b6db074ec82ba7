#pragma once

#include <memory>

#include "app/daemon/PeltoBusClientDelegate.h"

namespace tw {

// The daemon's event stream as the application state uses it.
class PeltoBus {
public:
    virtual ~PeltoBus() = default;
    // The delegate is held weakly.
    virtual void setDelegate(std::weak_ptr<PeltoBusClientDelegate> delegate) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    // Sends the daemon's logout request; the outcome is only logged.
    virtual void logout() = 0;
};

}  // namespace tw
