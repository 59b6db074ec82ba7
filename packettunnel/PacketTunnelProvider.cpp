#include "packettunnel/PacketTunnelProvider.h"

namespace tw {

std::shared_ptr<PacketTunnelProvider> PacketTunnelProvider::create(
    std::shared_ptr<ProviderLog> log, std::shared_ptr<TunnelPlatform> platform) {
    return std::shared_ptr<PacketTunnelProvider>(
        new PacketTunnelProvider(std::move(log), std::move(platform)));
}

PacketTunnelProvider::PacketTunnelProvider(std::shared_ptr<ProviderLog> log,
                                           std::shared_ptr<TunnelPlatform> platform)
    : log_(std::move(log)), platform_(std::move(platform)) {}

TunnelNetworkSettings PacketTunnelProvider::tunnelNetworkSettings() {
    return {.tunnelRemoteAddress = "127.0.0.1",
            .ipv4Addresses = {"10.0.0.1"},
            .ipv4SubnetMasks = {"255.255.255.0"}};
}

void PacketTunnelProvider::event(ProviderLog::Level level, const std::string& text) {
    log_->console(kConsolePrefix + text);
    log_->system(level, text);
}

void PacketTunnelProvider::startTunnel(StartCompletion completion) {
    event(ProviderLog::Level::info, "startTunnel called");
    // The provider is held weakly, the log and the caller's completion strongly: the completion is
    // owed an answer whether or not the provider is still there.
    platform_->setTunnelNetworkSettings(
        tunnelNetworkSettings(),
        [weak = weak_from_this(), log = log_,
         completion = std::move(completion)](std::optional<TunnelError> error) {
            didApplySettings(weak, *log, error);
            completion(std::move(error));
        });
}

void PacketTunnelProvider::didApplySettings(const std::weak_ptr<PacketTunnelProvider>& provider,
                                            ProviderLog& log,
                                            const std::optional<TunnelError>& error) {
    const std::string text = error ? "Failed to set tunnel network settings: " +
                                         error->localizedDescription
                                   : "Tunnel established successfully";
    log.console(kConsolePrefix + text);
    if (provider.lock()) {
        log.system(error ? ProviderLog::Level::error : ProviderLog::Level::info, text);
    }
}

void PacketTunnelProvider::stopTunnel(std::int64_t reason, std::function<void()> completion) {
    event(ProviderLog::Level::info, "stopTunnel called with reason: " + std::to_string(reason));
    completion();
}

void PacketTunnelProvider::handleAppMessage(const std::vector<std::uint8_t>& message,
                                            MessageCompletion completion) {
    event(ProviderLog::Level::info, "handleAppMessage called");
    if (completion) completion(message);
}

void PacketTunnelProvider::sleep(std::function<void()> completion) {
    event(ProviderLog::Level::info, "sleep called");
    completion();
}

void PacketTunnelProvider::wake() { event(ProviderLog::Level::info, "wake called"); }

}  // namespace tw
