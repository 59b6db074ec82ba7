#pragma once

#include <QDBusError>

#include "app/tunnel/VpnError.h"

namespace tw {

// NetworkManager's failures as VPN-layer errors, NetworkManager's own text kept. A profile that
// does not exist (any more) or that NetworkManager finds malformed is configuration-invalid; one
// it cannot use now (its plugin is not installed, or it allows only one such connection) is
// configuration-disabled; everything else keeps its own code — among them UnknownConnection,
// which activation reports for a missing base connection ("Could not find source connection").
struct NmError {
    // Codes of the other failures.
    static constexpr int kConnectionFailed = 3;
    static constexpr int kReadWriteFailed = 5;
    static constexpr const char* kActivationDomain = "org.freedesktop.NetworkManager.Connection.Active";
    static constexpr const char* kAdapterDomain = "tarnwick.NetworkManager";

    // `otherCode` for a failure of neither configuration kind.
    static VpnError fromDBus(const QDBusError& error, int otherCode);
    // The activation ended (NMActiveConnectionStateReason `reason`) before it was up.
    static VpnError activationFailed(uint reason);
    static VpnError notSaved();
    static VpnError disabled();
    static VpnError networkManagerGone();
};

}  // namespace tw
