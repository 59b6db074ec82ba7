#pragma once

#include <functional>
#include <string>

#include "base/Subscription.h"

namespace tw {

// What the desktop tells the running application: a URL of its scheme was opened, and the
// application became active (the user turned to it).
class ApplicationEvents {
public:
    virtual ~ApplicationEvents() = default;

    // `handler` receives each opened URL's text on the main queue. URLs opened before a handler is
    // set are handed to it when it is set.
    virtual void setUrlHandler(std::function<void(const std::string& url)> handler) = 0;
    // Calls `handler` on the main queue each time the application becomes active.
    [[nodiscard]] virtual Subscription observeDidBecomeActive(std::function<void()> handler) = 0;
};

}  // namespace tw
