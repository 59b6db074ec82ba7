#pragma once

#include <memory>

#include "app/platform/linux/NmConnectionSettings.h"
#include "app/platform/linux/NmProfile.h"
#include "app/tunnel/VpnConfiguration.h"

namespace tw {

class NetworkManagerVpnPlatform;

// One NetworkManager VPN profile, known by its UUID. The in-memory copy is the service's to edit
// on the main queue; load() and save() update it there. Saving a new profile adds it; saving one
// NetworkManager has replaces its settings, keeping whatever else the profile holds.
class NetworkManagerVpnConfiguration final
    : public VpnConfiguration,
      public std::enable_shared_from_this<NetworkManagerVpnConfiguration> {
public:
    // `saved`: the profile's whole settings as NetworkManager holds them; empty when not saved.
    NetworkManagerVpnConfiguration(std::shared_ptr<NetworkManagerVpnPlatform> platform,
                                   NmProfile profile, NmConnectionSettings saved);

    std::optional<TunnelProtocol> protocol() const override { return profile_.protocol(); }
    void setProtocol(TunnelProtocol protocol) override { profile_.setProtocol(protocol); }
    std::optional<std::string> localizedDescription() const override;
    void setLocalizedDescription(std::string description) override;
    bool isEnabled() const override { return profile_.isEnabled(); }
    void setEnabled(bool enabled) override { profile_.setEnabled(enabled); }

    void load(Completion completion) override;
    void save(Completion completion) override;
    void remove(Completion completion) override;

    bool hasConnection() const override { return true; }
    int connectionStatus() const override;
    // Refuses a profile that is not saved or saved disabled; otherwise completes on
    // NetworkManager's verdict on the activation (see NetworkManagerClient::activate).
    void startTunnel(Completion completion) override;
    void stopTunnel() override;

    const QString& uuid() const { return profile_.uuid; }

private:
    // Runs `apply` on the main queue if the configuration still exists, then `completion`.
    void finish(std::function<void(NetworkManagerVpnConfiguration&)> apply,
                const Completion& completion, std::optional<VpnError> error);

    const std::shared_ptr<NetworkManagerVpnPlatform> platform_;
    NmProfile profile_;
    NmConnectionSettings saved_;
};

}  // namespace tw
