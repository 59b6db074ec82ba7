#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/tunnel/SystemExtensionActivationDelegate.h"
#include "app/tunnel/SystemExtensionError.h"
#include "app/tunnel/SystemExtensionProperties.h"
#include "base/Subscription.h"

namespace tw {

// The platform's system-extension installer and the parts of the desktop the service needs to
// get the user's approval. Requests are answered from any thread.
class SystemExtensionPlatform {
public:
    using PropertiesResult =
        std::expected<std::vector<SystemExtensionProperties>, SystemExtensionError>;
    using PropertiesCompletion = std::function<void(PropertiesResult)>;

    virtual ~SystemExtensionPlatform() = default;

    // Asks for the extension `identifier` to be installed and enabled. The platform keeps the
    // delegate until the request has ended.
    virtual void submitActivationRequest(const std::string& identifier,
                                         SystemExtensionActivationDelegate delegate) = 0;
    // Reports every installed extension the platform knows of (the caller picks `identifier`'s
    // entries), or why it cannot; at most once. A request may also never be answered.
    virtual void submitPropertiesRequest(const std::string& identifier,
                                         PropertiesCompletion completion) = 0;

    // The places where the user allows the extension, best first.
    virtual std::vector<std::string> settingsTargets() const = 0;
    // Opens one of them; false when it cannot be formed or opened.
    virtual bool openSettingsTarget(const std::string& target) = 0;
    // Identifiers of the desktop's settings applications, best first.
    virtual std::vector<std::string> settingsApplications() const = 0;
    // Where the application `identifier` is installed, if it is.
    virtual std::optional<std::string> locateApplication(const std::string& identifier) const = 0;
    virtual void openApplication(const std::string& location) = 0;

    // Calls `handler` on the main queue each time the application becomes active, until the
    // subscription ends.
    [[nodiscard]] virtual Subscription observeApplicationDidBecomeActive(
        std::function<void()> handler) = 0;
};

}  // namespace tw
