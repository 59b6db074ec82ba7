#pragma once

#include <expected>

#include "app/core/LoginItemError.h"
#include "app/core/LoginItemStatus.h"

namespace tw {

// The platform's facility that starts the application when the user logs in. Called on the main
// queue; each call completes before it returns.
class LoginItemService {
  public:
    virtual ~LoginItemService() = default;

    // Makes the running application start at login, replacing an earlier item of it.
    virtual std::expected<void, LoginItemError> registerItem() = 0;
    // Removes the item; removing an item that is not there succeeds.
    virtual std::expected<void, LoginItemError> unregisterItem() = 0;
    virtual LoginItemStatus status() const = 0;
};

}  // namespace tw
