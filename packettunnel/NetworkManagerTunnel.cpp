#include "packettunnel/NetworkManagerTunnel.h"

namespace tw {

NetworkManagerTunnel::NetworkManagerTunnel(QString deviceName, ActivationWatcher& watcher,
                                           Report report)
    : deviceName_(std::move(deviceName)), watcher_(watcher), report_(std::move(report)) {}

std::expected<TunDevice, std::string> NetworkManagerTunnel::makeDevice() const {
    auto device = TunDevice::create(deviceName_.toStdString());
    if (!device) return device;
    if (auto disabled = device->disableIpv6(); !disabled) return std::unexpected(disabled.error());
    return device;
}

void NetworkManagerTunnel::setTunnelNetworkSettings(const TunnelNetworkSettings& settings,
                                                    Completion completion) {
    auto config = PluginConfig::encode(settings, deviceName_);
    if (!config) {
        completion(config.error());
        return;
    }
    device_.reset();
    auto device = makeDevice();
    if (!device) {
        completion(TunnelError{device.error()});
        return;
    }
    device_ = std::move(*device);
    watcher_.watch(
        connectionUuid_, [this, config = *config] { report_(config); }, std::move(completion));
}

void NetworkManagerTunnel::teardown() {
    watcher_.cancel(TunnelError{"the tunnel was stopped before NetworkManager applied the settings"});
    device_.reset();
}

}  // namespace tw
