#include "app/core/AppViewState.h"

#include <algorithm>

#include "app/daemon/LocalAPI.h"
#include "app/daemon/PeltoBus.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/AppLogger.h"
#include "base/MainQueue.h"
#include "base/Utf8.h"

namespace tw {

namespace {

constexpr std::string_view kCategory = "State";

template <class Texts>
std::string joined(const Texts& items) {
    std::string text;
    for (const auto& item : items) {
        if (!text.empty()) text += ',';
        text += item;
    }
    return text;
}

// ASCII only, whatever the process locale (Qt sets it from the environment).
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), asciiLower);
    return text;
}

// The case names used in the log ("needsLogin"), not the daemon's ("NeedsLogin").
std::string caseName(PeltoBusState state) {
    std::string text(name(state));
    text[0] = asciiLower(text[0]);
    return text;
}

}  // namespace

std::shared_ptr<AppViewState> AppViewState::create(Peers peers) {
    std::shared_ptr<AppViewState> model(new AppViewState(std::move(peers)));
    model->peers_.peltoBus->setDelegate(model);
    // The tunnel service publishes on the main queue, so the status is taken as it comes.
    model->vpnStatusSubscription_ = model->peers_.tunnel->connectionStatus().subscribe(
        [weak = model->weak_from_this()](VPNConnectionStatus status) {
            if (auto self = weak.lock()) self->vpn_.set(VpnViewState{status});
        });
    return model;
}

AppViewState::AppViewState(Peers peers)
    : peers_(std::move(peers)),
      sequence_(peers_.mainQueue),
      vpn_(VpnViewState{peers_.tunnel->connectionStatus().get()}),
      vpnConnectRetryTimer_(peers_.mainQueue),
      profileRefreshTimer_(peers_.mainQueue) {}

void AppViewState::log(const std::string& message) const { peers_.logger->log(kCategory, message); }

void AppViewState::start() {
    sequence_.check();
    log("start() called");
    peers_.peltoBus->start();
}

void AppViewState::peltoBusDidConnect() {
    sequence_.check();
    log("PeltoBus connected");
}

void AppViewState::peltoBusDidDisconnect(const std::optional<std::string>& error) {
    sequence_.check();
    log("PeltoBus disconnected: " + error.value_or("nil"));
}

void AppViewState::peltoBusDidReceiveNotify(const PeltoBusNotify& notify) { updateState(notify); }

void AppViewState::updateState(const PeltoBusNotify& notify) {
    sequence_.check();
    LoginViewState copy = login_.get();
    if (notify.state) {
        log("Received PeltoBus state: " + caseName(*notify.state));
        currentBackendState_ = *notify.state;
        if (*notify.state == PeltoBusState::needsLogin) {
            copy.isLoggedIn = false;
            isLoggingOut_ = false;
        }
        if (*notify.state == PeltoBusState::noState || *notify.state == PeltoBusState::needsLogin) {
            copy.jailedReason.reset();
        }
    }
    if (!isLoggingOut_ && notify.netMap && notify.netMap->selfNode && notify.netMap->selfNode->node) {
        applySelfNode(copy, *notify.netMap, *notify.netMap->selfNode->node);
    }
    if (notify.interactiveLoginUrl && !notify.interactiveLoginUrl->empty()) {
        copy.interactiveLoginUrl = *notify.interactiveLoginUrl;
    } else if (copy.isLoggedIn) {
        copy.interactiveLoginUrl.clear();
    }
    if (!isLoggingOut_ && notify.jailed) applyJail(copy, *notify.jailed, notify.jailReason);
    publishLogin(copy, true);
}

void AppViewState::applySelfNode(LoginViewState& copy, const NetworkMap& map, const Node& node) const {
    copy.isLoggedIn = true;
    copy.nodeID = node.id;
    copy.hostName = node.name.value_or("");
    if (node.addresses) copy.tarnwickIPs = joined(*node.addresses);
    if (!map.userProfiles) return;
    const auto profile = map.userProfiles->find(std::to_string(node.userID));
    if (profile == map.userProfiles->end()) return;
    if (profile->second.loginName) copy.email = *profile->second.loginName;
    copy.userName = profile->second.displayName.value_or(copy.email);
}

void AppViewState::applyJail(LoginViewState& copy, bool jailed, std::optional<std::string_view> reason) {
    if (!jailed) {
        copy.jailedReason.reset();
        return;
    }
    const auto text = reason ? trimmedWhitespace(*reason) : std::string_view();
    copy.jailedReason = std::string(text.empty() ? std::string_view(kDefaultJailReason) : text);
}

void AppViewState::publishLogin(const LoginViewState& copy, bool connectOnLogin) {
    if (copy == login_.get()) return;
    const LoginViewState old = login_.get();
    login_.set(copy);
    refreshProfiles();
    notifyJailTransition(old, copy);
    if (connectOnLogin && copy.isLoggedIn && !old.isLoggedIn) connect();
}

void AppViewState::applyStatus(const DaemonStatus& status) {
    sequence_.check();
    LoginViewState copy = login_.get();
    if (status.backendState) {
        const auto state = lowercased(*status.backendState);
        if (state == "running" || state == "starting" || state == "stopped") {
            copy.isLoggedIn = true;
        } else if (state == "needslogin") {
            copy.isLoggedIn = false;
            copy.interactiveLoginUrl = status.interactiveLoginUrl.value_or("");
        }
    }
    if (status.selfNode) {
        copy.hostName = status.selfNode->hostName.value_or("");
        copy.nodeID = status.selfNode->id;
        if (status.selfNode->addresses && !status.selfNode->addresses->empty()) {
            copy.tarnwickIPs = joined(*status.selfNode->addresses);
        }
    }
    if (status.email && !status.email->empty()) copy.email = *status.email;
    if (status.userName && !status.userName->empty()) copy.userName = *status.userName;
    if (status.jailed) applyJail(copy, *status.jailed, status.jailReason);
    publishLogin(copy, false);
}

void AppViewState::notifyJailTransition(const LoginViewState& from, const LoginViewState& to) {
    if (!to.jailedReason || from.jailedReason) return;
    log("node jailed: " + *to.jailedReason);
    if (peers_.showNotification) peers_.showNotification(kJailNotificationTitle, kJailNotificationBody);
}

void AppViewState::pollForLoginCompletion() { schedulePollStep(std::make_shared<int>(0)); }

void AppViewState::schedulePollStep(std::shared_ptr<int> attempts) {
    peers_.mainQueue->postDelayed(kLoginPollInterval, [weak = weak_from_this(), attempts] {
        if (auto self = weak.lock()) self->pollStep(attempts);
    });
}

void AppViewState::pollStep(std::shared_ptr<int> attempts) {
    if (++*attempts > kLoginPollAttempts || login_.get().isLoggedIn) return;
    if (*attempts % 3 == 0) peers_.localAPI->triggerLogin([](auto) {});
    peers_.localAPI->getStatus([post = onMain(), attempts](auto result) {
        post([result = std::move(result), attempts](AppViewState& self) {
            if (self.login_.get().isLoggedIn) return;
            if (result) {
                self.handlePollStatus(*result, attempts);
            } else {
                self.schedulePollStep(attempts);
            }
        });
    });
}

void AppViewState::handlePollStatus(const DaemonStatus& status, std::shared_ptr<int> attempts) {
    applyStatus(status);
    if (login_.get().isLoggedIn) {
        connect();
        return;
    }
    schedulePollStep(attempts);
}

}  // namespace tw
