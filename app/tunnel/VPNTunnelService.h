#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tunnel/VPNConnectionStatus.h"
#include "app/tunnel/VpnPlatform.h"
#include "base/Bundle.h"
#include "base/MainPoster.h"
#include "base/Observable.h"
#include "base/SequenceChecker.h"

namespace tw {

class AppLogger;
class MainQueue;

// Owns the application's one tunnel-provider VPN configuration: finds or creates it, keeps its
// settings right, starts and stops the tunnel through it, removes it on uninstall, and publishes
// the platform's status as a VPNConnectionStatus. Lives on the main queue: public operations
// called elsewhere re-post themselves there, and every platform answer is moved there first.
class VPNTunnelService : public std::enable_shared_from_this<VPNTunnelService> {
public:
    static constexpr const char* kFallbackProviderBundleIdentifier = "com.tarnwick.desktop.PacketTunnel";

    // Subscribes to the platform's notifications and adopts an existing configuration.
    static std::shared_ptr<VPNTunnelService> create(std::shared_ptr<MainQueue> mainQueue,
                                                    std::shared_ptr<AppLogger> logger,
                                                    std::shared_ptr<VpnPlatform> platform,
                                                    Bundle bundle);
    VPNTunnelService(const VPNTunnelService&) = delete;
    VPNTunnelService& operator=(const VPNTunnelService&) = delete;

    void start();
    void stop();
    // Makes sure a matching configuration is saved with the expected settings (saving even when
    // nothing changed), refreshes the status, then calls `completion`.
    void ensureConfigurationSaved(std::function<void()> completion);
    // Stops and deletes every matching configuration, then calls `completion`.
    void removeConfiguration(std::function<void()> completion);

    // Notifies on every assignment, also when the value does not change.
    Observable<VPNConnectionStatus>& connectionStatus() { return connectionStatus_; }
    bool pendingStartAfterApproval() const { return pendingStartAfterApproval_; }

    std::string expectedProviderBundleIdentifier() const;
    std::string expectedLocalizedDescription() const;
    static std::string statusDescription(int rawStatus);

private:
    using Done = std::function<void()>;

    VPNTunnelService(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<AppLogger> logger,
                     std::shared_ptr<VpnPlatform> platform, Bundle bundle);

    void startMonitoring();
    void adoptExistingManager(Done completion);
    void loadManager(bool forceSave, Done completion);
    void didLoadAll(const std::expected<VpnPlatform::Configurations, VpnError>& result,
                    bool forceSave, Done completion);
    void configureAndSave(std::shared_ptr<VpnConfiguration> manager, bool forceSave, Done completion);
    bool ensureConfigured(VpnConfiguration& manager);
    bool matches(const VpnConfiguration& configuration) const;
    void startVPNTunnel();
    void didStartVPNTunnel(const std::optional<VpnError>& error);
    void reportStart(const std::optional<VpnError>& error);
    void stopAdopted();
    void removeAll(const VpnPlatform::Configurations& matching, Done completion);
    void updateStatus();
    void vpnStatusDidChange();
    void vpnConfigurationDidChange();

    MainPoster<VPNTunnelService> onMain() { return {mainQueue_, weak_from_this()}; }
    void log(const std::string& message) const;

    const std::shared_ptr<MainQueue> mainQueue_;
    const std::shared_ptr<AppLogger> logger_;
    const std::shared_ptr<VpnPlatform> platform_;
    const Bundle bundle_;
    const SequenceChecker sequence_;

    Observable<VPNConnectionStatus> connectionStatus_{VPNConnectionStatus::disconnected};
    std::shared_ptr<VpnConfiguration> manager_;
    bool pendingStartAfterApproval_ = false;
    // A start awaits the platform's verdict; the verdict decides, so no second start is issued
    // meanwhile (a configuration change during the wait would otherwise start again).
    bool awaitingStartVerdict_ = false;
    // Platform notifications that came during the wait, handled in order once the verdict is in,
    // so that the status goes from connecting to what the platform says, never back meanwhile.
    std::vector<void (VPNTunnelService::*)()> deferredNotifications_;
    Subscription statusSubscription_;
    Subscription configurationSubscription_;
};

}  // namespace tw
