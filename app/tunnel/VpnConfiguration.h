#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/tunnel/TunnelProtocol.h"
#include "app/tunnel/VpnError.h"

namespace tw {

// One saved (or new, not yet saved) VPN configuration of the platform, and its connection.
// Setters change the in-memory copy; save() writes it. Completions may arrive on any thread.
// A handle stays valid while the platform renames or re-creates the object behind it.
class VpnConfiguration {
public:
    using Completion = std::function<void(std::optional<VpnError>)>;

    // Platform connection states, as raw values.
    static constexpr int kStatusInvalid = 0;
    static constexpr int kStatusDisconnected = 1;
    static constexpr int kStatusConnecting = 2;
    static constexpr int kStatusConnected = 3;
    static constexpr int kStatusReasserting = 4;
    static constexpr int kStatusDisconnecting = 5;

    virtual ~VpnConfiguration() = default;

    // Absent when the configuration has no protocol or one that is not a tunnel provider's.
    virtual std::optional<TunnelProtocol> protocol() const = 0;
    virtual void setProtocol(TunnelProtocol protocol) = 0;
    virtual std::optional<std::string> localizedDescription() const = 0;
    virtual void setLocalizedDescription(std::string description) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;

    virtual void load(Completion completion) = 0;
    virtual void save(Completion completion) = 0;
    virtual void remove(Completion completion) = 0;

    virtual bool hasConnection() const = 0;
    virtual int connectionStatus() const = 0;
    // Asks the platform to start the tunnel. `completion` is called exactly once, from any
    // thread: with nothing once the platform has accepted the start, or with why it refused.
    virtual void startTunnel(Completion completion) = 0;
    virtual void stopTunnel() = 0;
};

}  // namespace tw
