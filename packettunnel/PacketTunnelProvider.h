#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "packettunnel/ProviderLog.h"
#include "packettunnel/TunnelPlatform.h"

namespace tw {

// The packet-tunnel provider: on start it asks the platform for a fixed, minimal set of tunnel
// settings and reports the outcome; it answers stop, sleep and wake, and echoes every message the
// application sends it. It forwards no packets. Every event is written to the console with the
// prefix "PacketTunnelProvider: " and to the system log without it.
class PacketTunnelProvider : public std::enable_shared_from_this<PacketTunnelProvider> {
public:
    using StartCompletion = std::function<void(std::optional<TunnelError>)>;
    using MessageCompletion = std::function<void(const std::vector<std::uint8_t>&)>;

    static constexpr const char* kConsolePrefix = "PacketTunnelProvider: ";

    static std::shared_ptr<PacketTunnelProvider> create(std::shared_ptr<ProviderLog> log,
                                                        std::shared_ptr<TunnelPlatform> platform);
    PacketTunnelProvider(const PacketTunnelProvider&) = delete;
    PacketTunnelProvider& operator=(const PacketTunnelProvider&) = delete;

    // The settings every start applies.
    static TunnelNetworkSettings tunnelNetworkSettings();

    // `completion` receives nothing on success or the platform's error unchanged; it is called
    // also when the provider has gone away by then (only the system-log line is skipped).
    void startTunnel(StartCompletion completion);
    void stopTunnel(std::int64_t reason, std::function<void()> completion);
    // Without a completion the message is logged and dropped.
    void handleAppMessage(const std::vector<std::uint8_t>& message, MessageCompletion completion);
    void sleep(std::function<void()> completion);
    void wake();

private:
    PacketTunnelProvider(std::shared_ptr<ProviderLog> log, std::shared_ptr<TunnelPlatform> platform);

    void event(ProviderLog::Level level, const std::string& text);
    static void didApplySettings(const std::weak_ptr<PacketTunnelProvider>& provider,
                                 ProviderLog& log, const std::optional<TunnelError>& error);

    const std::shared_ptr<ProviderLog> log_;
    const std::shared_ptr<TunnelPlatform> platform_;
};

}  // namespace tw
