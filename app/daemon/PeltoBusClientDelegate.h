#pragma once

#include <optional>
#include <string>

#include "app/daemon/PeltoBusModels.h"

namespace tw {

// Receiver of the event stream's callbacks, all on the main queue: for one connection, connect
// first, then the notifications in stream order, then disconnect.
class PeltoBusClientDelegate {
public:
    virtual ~PeltoBusClientDelegate() = default;
    virtual void peltoBusDidConnect() = 0;
    // The stream of one connection has ended. The client passes no error.
    virtual void peltoBusDidDisconnect(const std::optional<std::string>& error) = 0;
    virtual void peltoBusDidReceiveNotify(const PeltoBusNotify& notify) = 0;
};

}  // namespace tw
