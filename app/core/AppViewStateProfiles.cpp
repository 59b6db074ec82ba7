#include <algorithm>

#include "app/core/AppViewState.h"
#include "app/daemon/LocalAPI.h"
#include "app/daemon/PeltoBus.h"
#include "base/AppLogger.h"
#include "base/MainQueue.h"

// Accounts: the daemon's login profiles, switching, adding an account, logging in and out.

namespace tw {

namespace {

// A URL worth handing to the browser: a scheme (RFC 3986: a letter, then letters, digits, "+",
// "-" or "."), a colon, and no white space or control characters.
bool isURL(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    const auto schemeChar = [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; };
    if (!std::all_of(text.begin(), text.begin() + static_cast<long>(colon), schemeChar)) return false;
    return std::none_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' ' || c == 0x7F; });
}

}  // namespace

void AppViewState::refreshProfiles() {
    sequence_.check();
    log("refreshProfiles called");
    peers_.localAPI->getProfiles([post = onMain()](auto result) {
        post([result = std::move(result)](AppViewState& self) {
            if (!result) {
                self.log("Failed to get profiles: " + result.error().description());
                return;
            }
            self.log("Got " + std::to_string(result->profiles.size()) + " profiles");
            self.applyProfiles(*result);
        });
    });
}

void AppViewState::applyProfiles(const ProfilesResponse& response) {
    profiles_.set(response.profiles);
    currentProfileId_.set(response.currentProfileId);
    confirmedProfileId_ = response.currentProfileId;
    const auto current = std::find_if(response.profiles.begin(), response.profiles.end(),
                                      [](const ProfileInfo& profile) { return profile.isCurrent; });
    if (current == response.profiles.end() || !current->userEmail || current->userEmail->empty()) return;
    LoginViewState copy = login_.get();
    copy.email = *current->userEmail;
    if (copy.userName.empty()) copy.userName = *current->userEmail;
    login_.setIfChanged(copy);
}

void AppViewState::applyLocalCurrentProfile(const std::string& id) {
    auto list = profiles_.get();
    for (auto& profile : list) profile.isCurrent = profile.id == id;
    profiles_.set(std::move(list));
    currentProfileId_.set(id);
    LoginViewState copy = login_.get();
    copy.jailedReason.reset();
    login_.setIfChanged(copy);
}

void AppViewState::refreshProfilesWithRetry(std::optional<std::string> targetId, int attempts) {
    refreshProfiles();
    if (attempts < 2) return;
    // The switch marks the target current at once, so only the daemon's own answer can tell
    // whether it has caught up.
    if (targetId && confirmedProfileId_ == *targetId) return;
    profileRefreshTimer_.start(kProfileRefreshInterval, [this, targetId, attempts] {
        refreshProfilesWithRetry(targetId, attempts - 1);
    });
}

void AppViewState::switchProfile(const std::string& id) {
    sequence_.check();
    log("switchProfile to " + id);
    applyLocalCurrentProfile(id);
    peers_.localAPI->switchProfile(id, [post = onMain(), id](auto result) {
        post([result, id](AppViewState& self) {
            if (!result) {
                self.log("Failed to switch profile: " + result.error().description());
                self.refreshProfiles();
                return;
            }
            self.log("Profile switch successful");
            self.refreshProfilesWithRetry(id, kProfileRefreshAttempts);
        });
    });
}

void AppViewState::switchProfileAndLogin(const std::string& id) {
    log("switchProfileAndLogin to " + id);
    isLoggingOut_ = false;
    applyLocalCurrentProfile(id);
    peers_.localAPI->switchProfile(id, [post = onMain(), id](auto result) {
        post([result, id](AppViewState& self) {
            if (!result) {
                self.log("switchProfileAndLogin failed: " + result.error().description());
                self.refreshProfiles();
                return;
            }
            self.refreshProfilesWithRetry(id, kProfileRefreshAttempts);
            self.startLoginAfterSwitch();
        });
    });
}

void AppViewState::startLoginAfterSwitch() {
    peers_.localAPI->startLogin([post = onMain()](auto result) {
        post([result = std::move(result)](AppViewState& self) {
            if (!result) {
                self.log("startLogin after switch failed: " + result.error().description());
                return;
            }
            self.openIfURL(*result);
        });
    });
}

void AppViewState::addNewAccount() {
    log("addNewAccount called");
    peers_.localAPI->switchToEmptyProfile([post = onMain()](auto switched) {
        post([switched](AppViewState& self) {
            if (!switched) {
                self.log("Failed to switch to empty profile: " + switched.error().description());
                return;
            }
            self.log("Switched to empty profile, starting login flow");
            self.peers_.localAPI->startLogin([post = self.onMain()](auto url) {
                post([url = std::move(url)](AppViewState& model) {
                    if (!url) {
                        model.log("Failed to get login URL: " + url.error().description());
                        return;
                    }
                    model.log("Got login URL for new account");
                    model.openIfURL(*url);
                });
            });
        });
    });
}

void AppViewState::openIfURL(const std::string& text) const {
    if (isURL(text) && peers_.openURL) peers_.openURL(text);
}

void AppViewState::logout() {
    sequence_.check();
    log("logout called");
    isLoggingOut_ = true;
    cancelVPNRetry();
    disconnect();
    login_.setIfChanged(LoginViewState{});
    currentBackendState_ = PeltoBusState::noState;
    peers_.peltoBus->logout();
    profileRefreshTimer_.start(kProfileRefreshInterval, [this] { refreshProfiles(); });
}

}  // namespace tw
