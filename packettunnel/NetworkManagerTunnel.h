#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "packettunnel/ActivationWatcher.h"
#include "packettunnel/PluginConfig.h"
#include "packettunnel/TunDevice.h"
#include "packettunnel/TunnelPlatform.h"

namespace tw {

// The tunnel as NetworkManager runs it for a VPN plugin: applying settings creates the TUN device
// (IPv6 off), sends NetworkManager the settings through `report` and completes with
// NetworkManager's verdict. The device lives until teardown().
class NetworkManagerTunnel final : public TunnelPlatform {
public:
    using Report = std::function<void(const PluginConfig&)>;

    NetworkManagerTunnel(QString deviceName, ActivationWatcher& watcher, Report report);

    // The VPN connection the next settings are for.
    void prepare(const QString& connectionUuid) { connectionUuid_ = connectionUuid; }
    void setTunnelNetworkSettings(const TunnelNetworkSettings& settings, Completion completion) override;
    // Removes the device; settings still waiting for NetworkManager are refused.
    void teardown();

private:
    std::expected<TunDevice, std::string> makeDevice() const;

    const QString deviceName_;
    ActivationWatcher& watcher_;
    const Report report_;
    QString connectionUuid_;
    std::optional<TunDevice> device_;
};

}  // namespace tw
