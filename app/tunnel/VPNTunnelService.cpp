#include "app/tunnel/VPNTunnelService.h"

#include <algorithm>
#include <utility>

#include "base/AppLogger.h"
#include "base/MainQueue.h"
#include "base/Utf8.h"

namespace tw {

namespace {

constexpr std::string_view kCategory = "VPN";

bool isBlank(const std::string& text) { return trimmedWhitespace(text).empty(); }

VPNConnectionStatus mapStatus(int raw) {
    switch (raw) {
        case VpnConfiguration::kStatusInvalid:
        case VpnConfiguration::kStatusDisconnected: return VPNConnectionStatus::disconnected;
        case VpnConfiguration::kStatusConnecting:
        case VpnConfiguration::kStatusReasserting: return VPNConnectionStatus::connecting;
        case VpnConfiguration::kStatusConnected: return VPNConnectionStatus::connected;
        case VpnConfiguration::kStatusDisconnecting: return VPNConnectionStatus::disconnecting;
        default: return VPNConnectionStatus::unknown;
    }
}

}  // namespace

std::shared_ptr<VPNTunnelService> VPNTunnelService::create(std::shared_ptr<MainQueue> mainQueue,
                                                           std::shared_ptr<AppLogger> logger,
                                                           std::shared_ptr<VpnPlatform> platform,
                                                           Bundle bundle) {
    std::shared_ptr<VPNTunnelService> service(new VPNTunnelService(
        std::move(mainQueue), std::move(logger), std::move(platform), std::move(bundle)));
    service->startMonitoring();
    return service;
}

VPNTunnelService::VPNTunnelService(std::shared_ptr<MainQueue> mainQueue,
                                   std::shared_ptr<AppLogger> logger,
                                   std::shared_ptr<VpnPlatform> platform, Bundle bundle)
    : mainQueue_(std::move(mainQueue)),
      logger_(std::move(logger)),
      platform_(std::move(platform)),
      bundle_(std::move(bundle)),
      sequence_(mainQueue_) {}

void VPNTunnelService::log(const std::string& message) const { logger_->log(kCategory, message); }

void VPNTunnelService::startMonitoring() {
    statusSubscription_ = platform_->observeStatusChanges(
        [post = onMain()] { post([](VPNTunnelService& self) { self.vpnStatusDidChange(); }); });
    configurationSubscription_ = platform_->observeConfigurationChanges([post = onMain()] {
        post([](VPNTunnelService& self) { self.vpnConfigurationDidChange(); });
    });
    adoptExistingManager([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->updateStatus();
    });
}

std::string VPNTunnelService::expectedProviderBundleIdentifier() const {
    const auto identifier = bundle_.bundleIdentifier();
    if (!identifier || identifier->empty()) {
        log("Missing host bundle identifier; falling back to default PacketTunnel id");
        return kFallbackProviderBundleIdentifier;
    }
    return *identifier + ".PacketTunnel";
}

std::string VPNTunnelService::expectedLocalizedDescription() const {
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        if (auto name = bundle_.string(key); name && !isBlank(*name)) return *name;
    }
    return Bundle::processName();
}

bool VPNTunnelService::matches(const VpnConfiguration& configuration) const {
    const auto protocol = configuration.protocol();
    return protocol && protocol->providerBundleIdentifier &&
           *protocol->providerBundleIdentifier == expectedProviderBundleIdentifier();
}

void VPNTunnelService::adoptExistingManager(Done completion) {
    platform_->loadAll([post = onMain(), completion = std::move(completion)](auto result) mutable {
        post(
            [result = std::move(result), completion](VPNTunnelService& self) {
                if (!result) {
                    self.log("Error loading VPN preferences: " + result.error().localizedDescription);
                } else if (auto it = std::find_if(result->begin(), result->end(),
                                                  [&](const auto& c) { return self.matches(*c); });
                           it != result->end()) {
                    self.manager_ = *it;
                    self.log("Adopted existing VPN configuration");
                } else {
                    self.log("No saved Tarnwick VPN configuration");
                }
                completion();
            },
            completion);
    });
}

void VPNTunnelService::loadManager(bool forceSave, Done completion) {
    platform_->loadAll([post = onMain(), forceSave, completion = std::move(completion)](auto result) mutable {
        post(
            [result = std::move(result), forceSave, completion](VPNTunnelService& self) {
                self.didLoadAll(result, forceSave, completion);
            },
            completion);
    });
}

void VPNTunnelService::didLoadAll(const std::expected<VpnPlatform::Configurations, VpnError>& result,
                                  bool forceSave, Done completion) {
    sequence_.check();
    if (!result) {
        log("Error loading VPN preferences: " + result.error().localizedDescription);
        completion();
        return;
    }
    const auto match = std::find_if(result->begin(), result->end(),
                                    [this](const auto& configuration) { return matches(*configuration); });
    if (match != result->end()) {
        manager_ = *match;
    } else {
        if (!result->empty()) log("Found existing manager(s) but none match Tarnwick; creating a new manager");
        manager_ = platform_->makeConfiguration();
    }
    auto manager = manager_;
    manager->load([post = onMain(), manager, forceSave, completion](std::optional<VpnError> error) {
        post(
            [manager, forceSave, completion, error](VPNTunnelService& self) {
                if (error) {
                    self.log("Error loading preferences: " + error->localizedDescription);
                    completion();
                    return;
                }
                self.configureAndSave(manager, forceSave, completion);
            },
            completion);
    });
}

void VPNTunnelService::configureAndSave(std::shared_ptr<VpnConfiguration> manager, bool forceSave,
                                        Done completion) {
    sequence_.check();
    if (!ensureConfigured(*manager) && !forceSave) {
        completion();
        return;
    }
    manager->save([post = onMain(), manager, completion](std::optional<VpnError> error) {
        post(
            [post, manager, completion, error](VPNTunnelService& self) {
                if (error) {
                    self.log("Failed to save configuration: " + error->localizedDescription);
                    completion();
                    return;
                }
                // Whatever the reload says, the save has happened.
                manager->load([post, completion](std::optional<VpnError>) {
                    post([completion](VPNTunnelService&) { completion(); }, completion);
                });
            },
            completion);
    });
}

bool VPNTunnelService::ensureConfigured(VpnConfiguration& manager) {
    const auto current = manager.protocol();
    TunnelProtocol prepared = current.value_or(TunnelProtocol{});
    prepared.serverAddress = "localhost";
    prepared.providerBundleIdentifier = expectedProviderBundleIdentifier();
    prepared.disconnectOnSleep = false;
    // Compared before the new values are applied, so that a configuration whose settings were
    // changed behind our back counts as changed and is saved back.
    const bool protocolChanged = current != prepared;
    if (protocolChanged) manager.setProtocol(prepared);

    const auto description = expectedLocalizedDescription();
    if (manager.localizedDescription() == description && manager.isEnabled()) return protocolChanged;
    manager.setLocalizedDescription(description);
    manager.setEnabled(true);
    return true;
}

void VPNTunnelService::ensureConfigurationSaved(std::function<void()> completion) {
    if (!mainQueue_->isCurrent()) {
        onMain()([completion](VPNTunnelService& self) { self.ensureConfigurationSaved(completion); },
                 completion);
        return;
    }
    loadManager(true, [weak = weak_from_this(), completion] {
        if (auto self = weak.lock()) self->updateStatus();
        if (completion) completion();
    });
}

void VPNTunnelService::start() {
    if (!mainQueue_->isCurrent()) {
        onMain()([](VPNTunnelService& self) { self.start(); });
        return;
    }
    pendingStartAfterApproval_ = true;
    if (manager_) {
        startVPNTunnel();
        return;
    }
    loadManager(false, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->updateStatus();
            self->startVPNTunnel();
        }
    });
}

void VPNTunnelService::startVPNTunnel() {
    sequence_.check();
    if (awaitingStartVerdict_) return;
    if (!manager_) {
        log("Error: VPN manager is nil");
        connectionStatus_.set(VPNConnectionStatus::error);
        return;
    }
    const int raw = manager_->connectionStatus();
    if (raw == VpnConfiguration::kStatusConnected || raw == VpnConfiguration::kStatusConnecting) {
        log("Already connected or connecting (status: " + std::to_string(raw) + "), skipping start");
        pendingStartAfterApproval_ = false;
        updateStatus();
        return;
    }
    log("Starting VPN tunnel (current status: " + std::to_string(raw) + ")");
    connectionStatus_.set(VPNConnectionStatus::connecting);
    awaitingStartVerdict_ = true;
    manager_->startTunnel([post = onMain()](std::optional<VpnError> error) {
        post([error](VPNTunnelService& self) { self.didStartVPNTunnel(error); });
    });
}

void VPNTunnelService::didStartVPNTunnel(const std::optional<VpnError>& error) {
    sequence_.check();
    awaitingStartVerdict_ = false;
    reportStart(error);
    for (const auto handler : std::exchange(deferredNotifications_, {})) (this->*handler)();
}

void VPNTunnelService::reportStart(const std::optional<VpnError>& error) {
    if (!error) {
        pendingStartAfterApproval_ = false;
        log("Tunnel start initiated successfully");
        return;
    }
    if (error->code == VpnError::kConfigurationInvalid) {
        log("Configuration is invalid");
    } else if (error->code == VpnError::kConfigurationDisabled) {
        log("Configuration is disabled");
    } else {
        log("Error starting VPN tunnel: " + error->localizedDescription + " (code: " +
            std::to_string(error->code) + ", domain: " + error->domain + ")");
    }
    connectionStatus_.set(VPNConnectionStatus::error);
}

void VPNTunnelService::stop() {
    if (!mainQueue_->isCurrent()) {
        onMain()([](VPNTunnelService& self) { self.stop(); });
        return;
    }
    if (manager_) {
        manager_->stopTunnel();
        return;
    }
    adoptExistingManager([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->stopAdopted();
    });
}

void VPNTunnelService::stopAdopted() {
    sequence_.check();
    if (!manager_) {
        log("Nothing to stop; reporting disconnected");
        connectionStatus_.set(VPNConnectionStatus::disconnected);
        return;
    }
    manager_->stopTunnel();
    updateStatus();
}

void VPNTunnelService::removeConfiguration(std::function<void()> completion) {
    if (!mainQueue_->isCurrent()) {
        onMain()([completion](VPNTunnelService& self) { self.removeConfiguration(completion); },
                 completion);
        return;
    }
    Done done = completion ? std::move(completion) : [] {};
    platform_->loadAll([post = onMain(), done](auto result) {
        post(
            [result = std::move(result), done](VPNTunnelService& self) {
                VpnPlatform::Configurations matching;
                if (result) {
                    std::copy_if(result->begin(), result->end(), std::back_inserter(matching),
                                 [&](const auto& c) { return self.matches(*c); });
                }
                if (matching.empty()) {
                    done();
                    return;
                }
                self.removeAll(matching, done);
            },
            done);
    });
}

void VPNTunnelService::removeAll(const VpnPlatform::Configurations& matching, Done completion) {
    sequence_.check();
    // Counted down on the main queue, where every removal's answer is delivered.
    auto remaining = std::make_shared<std::size_t>(matching.size());
    const auto count = matching.size();
    auto finish = [remaining, count, completion](VPNTunnelService* self) {
        if (--*remaining != 0) return;
        if (self) {
            self->manager_.reset();
            self->connectionStatus_.set(VPNConnectionStatus::disconnected);
            self->log("Removed " + std::to_string(count) + " VPN configuration(s)");
        }
        completion();
    };
    for (const auto& configuration : matching) {
        configuration->stopTunnel();
        configuration->remove([post = onMain(), finish](std::optional<VpnError> error) {
            post(
                [finish, error](VPNTunnelService& self) {
                    if (error) self.log("removeFromPreferences failed: " + error->localizedDescription);
                    finish(&self);
                },
                [finish] { finish(nullptr); });
        });
    }
}

void VPNTunnelService::updateStatus() {
    if (!mainQueue_->isCurrent()) {
        onMain()([](VPNTunnelService& self) { self.updateStatus(); });
        return;
    }
    if (!manager_ || !manager_->hasConnection()) {
        log("updateStatus: manager or connection is nil");
        return;
    }
    const int raw = manager_->connectionStatus();
    log("raw status: " + std::to_string(raw));
    connectionStatus_.set(mapStatus(raw));
    log("Status changed: " + statusDescription(raw));
}

std::string VPNTunnelService::statusDescription(int rawStatus) {
    switch (rawStatus) {
        case VpnConfiguration::kStatusInvalid: return "invalid";
        case VpnConfiguration::kStatusDisconnected: return "disconnected";
        case VpnConfiguration::kStatusConnecting: return "connecting";
        case VpnConfiguration::kStatusConnected: return "connected";
        case VpnConfiguration::kStatusReasserting: return "reasserting";
        case VpnConfiguration::kStatusDisconnecting: return "disconnecting";
        default: return "unknown (" + std::to_string(rawStatus) + ")";
    }
}

void VPNTunnelService::vpnStatusDidChange() {
    sequence_.check();
    if (awaitingStartVerdict_) return deferredNotifications_.push_back(&VPNTunnelService::vpnStatusDidChange);
    log("Status notification received");
    updateStatus();
}

void VPNTunnelService::vpnConfigurationDidChange() {
    sequence_.check();
    if (awaitingStartVerdict_) {
        return deferredNotifications_.push_back(&VPNTunnelService::vpnConfigurationDidChange);
    }
    log("Configuration changed; reloading manager");
    loadManager(false, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->updateStatus();
            if (self->pendingStartAfterApproval_) self->startVPNTunnel();
        }
    });
}

}  // namespace tw
