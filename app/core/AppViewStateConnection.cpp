#include "app/core/AppViewState.h"
#include "app/daemon/LocalAPI.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/AppLogger.h"

// Connecting: the daemon's WantRunning preference and the VPN tunnel, side by side, with a
// bounded number of tunnel restarts.

namespace tw {

void AppViewState::connect() {
    sequence_.check();
    log("connect");
    ++connectRequest_;
    cancelVPNRetry();
    vpnRetryCount_ = 0;
    setDaemonWantRunning(true);
    if (!peers_.isExtensionApproved || !peers_.isExtensionApproved()) {
        log("System Extension not approved, skipping VPN tunnel start");
        return;
    }
    ensureSavedThenStart();
}

void AppViewState::disconnect() {
    sequence_.check();
    log("disconnect");
    ++connectRequest_;
    cancelVPNRetry();
    setDaemonWantRunning(false);
    peers_.tunnel->stop();
}

void AppViewState::setDaemonWantRunning(bool wanted) {
    const std::string value = wanted ? "true" : "false";
    // Only logged, from the worker thread that answers. The model is checked, not locked: the
    // last reference must never be dropped on a worker, whose pool the model owns.
    peers_.localAPI->setWantRunning(
        wanted, [weak = weak_from_this(), logger = peers_.logger, value](auto result) {
            if (weak.expired()) return;
            if (result) {
                logger->log("State", "daemon WantRunning=" + value);
            } else {
                logger->log("State", "failed to set WantRunning=" + value + ": " + result.error().description());
            }
        });
}

// A disconnect() or logout() made while the configuration is being saved wins: the save's
// completion then starts nothing and schedules no retry.
void AppViewState::ensureSavedThenStart() {
    peers_.tunnel->ensureConfigurationSaved([weak = weak_from_this(), request = connectRequest_] {
        auto self = weak.lock();
        if (!self || self->connectRequest_ != request) return;
        self->peers_.tunnel->start();
        self->scheduleVPNRetryIfNeeded();
    });
}

void AppViewState::cancelVPNRetry() { vpnConnectRetryTimer_.stop(); }

void AppViewState::scheduleVPNRetryIfNeeded() {
    vpnConnectRetryTimer_.start(kVpnRetryDelay, [this] { vpnRetryCheck(); });
}

void AppViewState::vpnRetryCheck() {
    const auto status = vpn_.get().status;
    if (status == VPNConnectionStatus::connected || status == VPNConnectionStatus::connecting) return;
    if (vpnRetryCount_ >= kMaxVpnRetries) {
        log("VPN connection failed after " + std::to_string(kMaxVpnRetries) + " retries");
        return;
    }
    ++vpnRetryCount_;
    log("VPN connection retry " + std::to_string(vpnRetryCount_) + "/" + std::to_string(kMaxVpnRetries));
    ensureSavedThenStart();
}

}  // namespace tw
