#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <vector>

#include "app/tunnel/VpnConfiguration.h"
#include "base/Subscription.h"

namespace tw {

// The platform's VPN layer as the tunnel service needs it. Completions and notifications may
// arrive on any thread.
class VpnPlatform {
public:
    using Configurations = std::vector<std::shared_ptr<VpnConfiguration>>;
    using LoadAllCompletion = std::function<void(std::expected<Configurations, VpnError>)>;

    virtual ~VpnPlatform() = default;

    // Every saved VPN configuration the application may see, in the platform's order.
    virtual void loadAll(LoadAllCompletion completion) = 0;
    // A new, empty, unsaved configuration.
    virtual std::shared_ptr<VpnConfiguration> makeConfiguration() = 0;

    // Called when any configuration's connection status changes.
    [[nodiscard]] virtual Subscription observeStatusChanges(std::function<void()> handler) = 0;
    // Called when any configuration is added, changed or removed.
    [[nodiscard]] virtual Subscription observeConfigurationChanges(std::function<void()> handler) = 0;
};

}  // namespace tw
