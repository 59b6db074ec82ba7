#include "app/platform/linux/NetworkManagerVpnConfiguration.h"

#include "app/platform/linux/NetworkManagerClient.h"
#include "app/platform/linux/NetworkManagerVpnPlatform.h"
#include "app/platform/linux/NmError.h"
#include "base/MainQueue.h"

namespace tw {

NetworkManagerVpnConfiguration::NetworkManagerVpnConfiguration(
    std::shared_ptr<NetworkManagerVpnPlatform> platform, NmProfile profile, NmConnectionSettings saved)
    : platform_(std::move(platform)), profile_(std::move(profile)), saved_(std::move(saved)) {}

std::optional<std::string> NetworkManagerVpnConfiguration::localizedDescription() const {
    if (!profile_.id) return std::nullopt;
    return profile_.id->toStdString();
}

void NetworkManagerVpnConfiguration::setLocalizedDescription(std::string description) {
    profile_.id = QString::fromStdString(description);
}

void NetworkManagerVpnConfiguration::finish(std::function<void(NetworkManagerVpnConfiguration&)> apply,
                                            const Completion& completion,
                                            std::optional<VpnError> error) {
    if (!error) {
        platform_->mainQueue()->post([weak = weak_from_this(), apply = std::move(apply)] {
            if (auto self = weak.lock()) apply(*self);
        });
    }
    completion(std::move(error));
}

void NetworkManagerVpnConfiguration::load(Completion completion) {
    if (saved_.isEmpty()) {
        completion(std::nullopt);  // nothing saved to read back
        return;
    }
    platform_->onClient([self = shared_from_this(), completion = std::move(completion)](auto& client) {
        client.load(self->uuid(), [self, completion](std::expected<NmSavedProfile, VpnError> loaded) {
            if (!loaded) {
                completion(loaded.error());
                return;
            }
            self->finish(
                [loaded = *loaded](NetworkManagerVpnConfiguration& configuration) {
                    configuration.profile_ = loaded.profile;
                    configuration.saved_ = loaded.settings;
                },
                completion, std::nullopt);
        });
    });
}

void NetworkManagerVpnConfiguration::save(Completion completion) {
    const auto settings = profile_.toSettings(saved_, platform_->owner());
    const bool isNew = saved_.isEmpty();
    platform_->onClient([self = shared_from_this(), settings, isNew,
                         completion = std::move(completion)](auto& client) {
        auto saved = [self, settings, completion](std::optional<VpnError> error) {
            self->finish([settings](auto& configuration) { configuration.saved_ = settings; },
                         completion, std::move(error));
        };
        if (isNew) {
            client.add(settings, saved);
        } else {
            client.update(self->uuid(), settings, saved);
        }
    });
}

void NetworkManagerVpnConfiguration::remove(Completion completion) {
    if (saved_.isEmpty()) {
        completion(std::nullopt);
        return;
    }
    platform_->onClient([self = shared_from_this(), completion = std::move(completion)](auto& client) {
        client.remove(self->uuid(), [self, completion](std::optional<VpnError> error) {
            self->finish([](auto& configuration) { configuration.saved_.clear(); }, completion,
                         std::move(error));
        });
    });
}

int NetworkManagerVpnConfiguration::connectionStatus() const {
    return platform_->connectionStatus(uuid());
}

void NetworkManagerVpnConfiguration::startTunnel(Completion completion) {
    if (saved_.isEmpty()) return completion(NmError::notSaved());
    if (!NmProfile::fromSettings(saved_).isEnabled()) return completion(NmError::disabled());
    platform_->onClient([uuid = uuid(), completion = std::move(completion)](auto& client) {
        client.activate(uuid, completion);
    });
}

void NetworkManagerVpnConfiguration::stopTunnel() {
    platform_->onClient([uuid = uuid()](auto& client) { client.deactivate(uuid); });
}

}  // namespace tw
