#include "app/ui/preview/PreviewState.h"

#include <algorithm>

namespace tw {
namespace {

MenuInputs loggedOut() {
    MenuInputs inputs;
    inputs.isExtensionApproved = true;
    inputs.canCheckForUpdates = true;
    inputs.vpnStatus = VPNConnectionStatus::disconnected;
    return inputs;
}

ProfileInfo profile(std::string id, std::string name, std::string email, bool isCurrent) {
    ProfileInfo info;
    info.id = std::move(id);
    info.name = std::move(name);
    info.userEmail = std::move(email);
    info.isCurrent = isCurrent;
    return info;
}

std::vector<ProfileInfo> twoProfiles() {
    return {profile("a1", "work", "mika.virtanen@example.com", true),
            profile("b2", "home", "mika@home.example", false)};
}

// The panel's own state with one of its flags set.
MenuViewState with(bool MenuViewState::*flag) {
    MenuViewState view;
    view.*flag = true;
    return view;
}

MenuViewState hovering(MenuRowId id) {
    MenuViewState view;
    view.hovering.insert(id);
    return view;
}

MenuInputs loggedIn(VPNConnectionStatus status) {
    MenuInputs inputs = loggedOut();
    inputs.vpnStatus = status;
    inputs.login.isLoggedIn = true;
    inputs.login.userName = "Mika Virtanen";
    inputs.login.email = "mika.virtanen@example.com";
    inputs.login.hostName = "mika-laptop.tail-net.example.";
    inputs.login.tarnwickIPs = "100.101.102.103,fd7a:115c:a1e0::1234:5678";
    inputs.profiles = twoProfiles();
    return inputs;
}

PreviewState state(std::string name, MenuInputs inputs, MenuViewState view = {},
                   PreviewState::Shows shows = PreviewState::Shows::panel) {
    return {std::move(name), std::move(inputs), std::move(view), shows};
}

}  // namespace

std::vector<PreviewState> PreviewState::all() {
    std::vector<PreviewState> states;
    MenuInputs helper = loggedOut();
    helper.helperNeedsApproval = true;
    states.push_back(state("logged-out-helper-approval", helper));
    helper.helperRegistrationError = "Authorization failed: the administrator prompt was dismissed.";
    states.push_back(state("logged-out-helper-error", helper));
    states.push_back(state("logged-out", loggedOut()));
    MenuInputs accounts = loggedOut();
    accounts.profiles = twoProfiles();
    states.push_back(state("logged-out-two-accounts", accounts));
    states.push_back(state("switch-account-popover", accounts, with(&MenuViewState::isSwitchAccountPopoverPresented)));
    states.push_back(state("disconnected", loggedIn(VPNConnectionStatus::disconnected)));
    states.push_back(state("connecting", loggedIn(VPNConnectionStatus::connecting)));
    states.push_back(state("connected", loggedIn(VPNConnectionStatus::connected)));
    states.push_back(state("hover-disconnect", loggedIn(VPNConnectionStatus::connected),
                           hovering(MenuRowId::connect)));
    MenuInputs blocked = loggedIn(VPNConnectionStatus::connected);
    blocked.login.jailedReason = "This device is not compliant with your organisation's device policy.";
    states.push_back(state("blocked-by-device-policy", blocked));
    MenuInputs pending = loggedIn(VPNConnectionStatus::disconnected);
    pending.isExtensionApproved = false;
    pending.extensionNeedsUserApproval = true;
    states.push_back(state("extension-approval-pending", pending));
    MenuInputs failed = pending;
    failed.extensionNeedsUserApproval = false;
    failed.extensionLastError = "The administrator prompt was dismissed.";
    states.push_back(state("extension-failed", failed));
    states.push_back(state("more-popover", loggedIn(VPNConnectionStatus::connected),
                           with(&MenuViewState::isMorePopoverPresented)));
    MenuInputs whiteLabel = loggedIn(VPNConnectionStatus::connected);
    whiteLabel.isWhiteLabelBuild = true;
    states.push_back(state("white-label-more-popover", whiteLabel, with(&MenuViewState::isMorePopoverPresented)));
    states.push_back(state("uninstall-confirmation", loggedIn(VPNConnectionStatus::connected),
                           with(&MenuViewState::showUninstallConfirm), Shows::uninstallConfirmation));
    states.push_back(state("no-tray-window", loggedIn(VPNConnectionStatus::connected), {},
                           Shows::windowWithoutTray));
    return states;
}

PreviewState PreviewState::named(const std::string& name) {
    const auto states = all();
    const auto found = std::find_if(states.begin(), states.end(), [&](const auto& s) { return s.name == name; });
    return found == states.end() ? PreviewState{} : *found;
}

}  // namespace tw
