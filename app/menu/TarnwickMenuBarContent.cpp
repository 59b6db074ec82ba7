#include "app/menu/TarnwickMenuBarContent.h"

#include <algorithm>
#include <utility>

#include "app/core/AppViewState.h"
#include "app/core/HelperRegistration.h"
#include "app/core/NotificationHelper.h"
#include "app/core/UpdaterViewModel.h"
#include "app/daemon/LocalAPI.h"
#include "app/menu/Clipboard.h"
#include "app/menu/FolderPicker.h"
#include "app/menu/LogExporter.h"
#include "app/menu/MenuContentBuilder.h"
#include "app/menu/TarnwickIPs.h"
#include "app/core/UrlOpener.h"
#include "app/tunnel/SystemExtensionService.h"
#include "base/AppLogger.h"
#include "base/WorkerPool.h"

namespace tw {

namespace {

constexpr const char* kHomePageKey = "TWHomePageURL";
constexpr const char* kDocsPageKey = "TWDocsPageURL";

// The rows a user can see and reach now: the panel's, and those of a presented popover.
template <typename Visit>
void forEachVisibleRow(const MenuPanel& panel, Visit visit) {
    for (const auto& row : panel.rows) visit(row);
    if (panel.isMorePopoverPresented)
        for (const auto& row : panel.morePopover) visit(row);
    if (panel.isSwitchAccountPopoverPresented)
        for (const auto& row : panel.switchAccountPopover) visit(row);
}

std::string trimDots(const std::string& text) {
    const auto first = text.find_first_not_of('.');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of('.') - first + 1);
}

std::string joined(const std::vector<std::string>& names, const std::string& separator) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : separator) + name;
    return text;
}

}  // namespace

std::shared_ptr<TarnwickMenuBarContent> TarnwickMenuBarContent::create(Peers peers) {
    std::shared_ptr<TarnwickMenuBarContent> content(new TarnwickMenuBarContent(std::move(peers)));
    content->observe();
    content->rebuild();
    return content;
}

TarnwickMenuBarContent::TarnwickMenuBarContent(Peers peers)
    : peers_(std::move(peers)), isWhiteLabel_(isWhiteLabelBuild(peers_.bundle)) {}

bool TarnwickMenuBarContent::isWhiteLabelBuild(const Bundle& bundle) {
    const auto conductor = bundle.string("TWConductorURL");
    return conductor && !conductor->empty() && conductor->find("$(") == std::string::npos;
}

Subscription TarnwickMenuBarContent::subscribe(std::function<void(const MenuPanel&)> callback) {
    return panel_.subscribe(std::move(callback));
}

// --- observing ---

void TarnwickMenuBarContent::observe() {
    auto& app = *peers_.app;
    auto& extension = *peers_.systemExtension;
    // The subscriptions end with this object, so the callbacks never outlive it.
    const auto changed = [this](const auto&) { rebuild(); };
    observations_.push_back(app.login().subscribe(changed));
    observations_.push_back(app.vpn().subscribe(changed));
    observations_.push_back(app.profiles().subscribe(changed));
    observations_.push_back(app.helperNeedsApproval().subscribe(changed));
    observations_.push_back(app.helperRegistrationError().subscribe(changed));
    observations_.push_back(extension.isApproved().subscribe(changed));
    observations_.push_back(extension.needsUserApproval().subscribe(changed));
    observations_.push_back(extension.lastErrorDescription().subscribe(changed));
    observations_.push_back(peers_.updater->canCheckForUpdates().subscribe(changed));
}

MenuInputs TarnwickMenuBarContent::readInputs() const {
    auto& app = *peers_.app;
    auto& extension = *peers_.systemExtension;
    return MenuInputs{
        .login = app.login().get(),
        .vpnStatus = app.vpn().get().status,
        .profiles = app.profiles().get(),
        .helperNeedsApproval = app.helperNeedsApproval().get(),
        .helperRegistrationError = app.helperRegistrationError().get(),
        .canCheckForUpdates = peers_.updater->canCheckForUpdates().get(),
        .isExtensionApproved = extension.isApproved().get(),
        .extensionNeedsUserApproval = extension.needsUserApproval().get(),
        .extensionLastError = extension.lastErrorDescription().get(),
        .isWhiteLabelBuild = isWhiteLabel_,
    };
}

void TarnwickMenuBarContent::rebuild() {
    const auto inputs = readInputs();
    // A popover goes with the row it hangs from.
    if (!inputs.login.isLoggedIn) view_.isMorePopoverPresented = false;
    if (!MenuContentBuilder::hasSwitchAccountRow(inputs))
        view_.isSwitchAccountPopoverPresented = false;
    auto panel = MenuContentBuilder::build(inputs, view_);
    if (forgetHoverOfHiddenRows(panel)) panel = MenuContentBuilder::build(inputs, view_);
    panel_.setIfChanged(std::move(panel));
}

// A row that goes away under the pointer never hears the pointer leave; without this it would
// come back highlighted.
bool TarnwickMenuBarContent::forgetHoverOfHiddenRows(const MenuPanel& panel) {
    std::set<MenuRowId> shown;
    bool profileShown = false;
    forEachVisibleRow(panel, [&](const MenuRow& row) {
        shown.insert(row.id);
        profileShown = profileShown || (row.kind == MenuRowKind::profile &&
                                        row.profileId == view_.hoveringProfileId);
    });
    const auto hiddenCount =
        std::erase_if(view_.hovering, [&](MenuRowId id) { return !shown.contains(id); });
    const bool profileHidden = view_.hoveringProfileId && !profileShown;
    if (profileHidden) view_.hoveringProfileId.reset();
    return hiddenCount > 0 || profileHidden;
}

const MenuRow* TarnwickMenuBarContent::visibleRow(MenuRowId id, const std::string& profileId) const {
    const MenuRow* found = nullptr;
    forEachVisibleRow(panel_.get(), [&](const MenuRow& row) {
        if (!found && row.id == id && (id != MenuRowId::profile || row.profileId == profileId))
            found = &row;
    });
    return found;
}

// --- the views' input ---

void TarnwickMenuBarContent::appeared() { peers_.notifications->requestAuthorization(); }

void TarnwickMenuBarContent::activate(MenuRowId id, const std::string& profileId) {
    // Input from a view a state behind (a row just gone, a disabled row) does nothing.
    const auto* row = visibleRow(id, profileId);
    if (!row || !row->enabled) return;
    perform(id, profileId);
}

void TarnwickMenuBarContent::setHovering(MenuRowId id, const std::string& profileId,
                                         bool hovering) {
    const auto* row = hovering ? visibleRow(id, profileId) : nullptr;
    if (id == MenuRowId::profile) {
        if (row) {
            view_.hoveringProfileId = profileId;
        } else if (!hovering && view_.hoveringProfileId == profileId) {
            // Only the row the pointer left: its neighbour may have been entered first.
            view_.hoveringProfileId.reset();
        }
    } else if (row && row->kind == MenuRowKind::action) {
        view_.hovering.insert(id);
    } else if (!hovering) {
        view_.hovering.erase(id);
    }
    rebuild();
}

void TarnwickMenuBarContent::dismissMorePopover() {
    view_.isMorePopoverPresented = false;
    rebuild();
}

void TarnwickMenuBarContent::dismissSwitchAccountPopover() {
    view_.isSwitchAccountPopoverPresented = false;
    rebuild();
}

void TarnwickMenuBarContent::confirmUninstall() {
    if (!view_.showUninstallConfirm) return;
    view_.showUninstallConfirm = false;
    rebuild();
    if (peers_.uninstall) peers_.uninstall();
}

void TarnwickMenuBarContent::cancelUninstall() {
    view_.showUninstallConfirm = false;
    rebuild();
}

// --- the rows' actions ---

void TarnwickMenuBarContent::perform(MenuRowId id, const std::string& profileId) {
    auto& app = *peers_.app;
    switch (id) {
        case MenuRowId::enableHelper: return approveHelper();
        case MenuRowId::login: return startLoginFlow();
        case MenuRowId::switchAccount: return toggleSwitchAccountPopover();
        case MenuRowId::quit: return peers_.quit();
        case MenuRowId::systemExtension: return activateSystemExtension();
        case MenuRowId::connect: return toggleVpn();
        case MenuRowId::dns:
        case MenuRowId::ipv4:
        case MenuRowId::ipv6: return copyAddress(id);
        case MenuRowId::checkForUpdates: return peers_.updater->updater()->checkForUpdates();
        case MenuRowId::more: return toggleMorePopover();
        case MenuRowId::profile: return chooseProfile(profileId);
        case MenuRowId::addAccount: return addAccount();
        case MenuRowId::logout: return app.logout();
        case MenuRowId::about: return open(peers_.bundle.string(kHomePageKey).value_or(""));
        case MenuRowId::docs: return open(peers_.bundle.string(kDocsPageKey).value_or(""));
        case MenuRowId::exportLogs: return exportLogs();
        case MenuRowId::uninstall:
            view_.isMorePopoverPresented = false;
            view_.showUninstallConfirm = true;
            return rebuild();
        case MenuRowId::helperRegistrationError:
        case MenuRowId::account:
        case MenuRowId::jailedReason:
        case MenuRowId::status:
        case MenuRowId::name:
        case MenuRowId::email:
        case MenuRowId::switchAccountHeading:
        case MenuRowId::divider: return;
    }
}

// The user's approval of the helper is the system's own authorisation prompt; the start-up
// sequence notices the helper once it answers and clears the approval flag then.
void TarnwickMenuBarContent::approveHelper() {
    if (isApprovingHelper_) return;  // one prompt at a time
    isApprovingHelper_ = true;
    peers_.helperRegistration->approve([post = onMain()](HelperRegistration::Result result) {
        std::optional<std::string> error;
        if (!result) error = result.error().description();
        post([error](TarnwickMenuBarContent& self) { self.didApproveHelper(error); });
    });
}

void TarnwickMenuBarContent::didApproveHelper(const std::optional<std::string>& error) {
    isApprovingHelper_ = false;
    if (error) log("Helper approval failed: " + *error);
    peers_.app->helperRegistrationError().set(error);
}

void TarnwickMenuBarContent::activateSystemExtension() {
    auto& extension = *peers_.systemExtension;
    extension.openSystemSettings();
    if (!extension.needsUserApproval().get()) extension.activate();
}

void TarnwickMenuBarContent::copyAddress(MenuRowId id) {
    const auto& login = peers_.app->login().get();
    if (id == MenuRowId::dns) return copy(trimDots(login.hostName), "DNS");
    const auto ips = splitIPs(login.tarnwickIPs).value_or(TarnwickIPs{});
    if (id == MenuRowId::ipv4) return copy(ips.ipv4, "Tarnwick IPv4");
    copy(ips.ipv6, "Tarnwick IPv6");
}

void TarnwickMenuBarContent::chooseProfile(const std::string& profileId) {
    auto& app = *peers_.app;
    const auto& profiles = app.profiles().get();
    const auto profile = std::ranges::find(profiles, profileId, &ProfileInfo::id);
    if (profile == profiles.end() || profile->isCurrent) return;
    if (app.login().get().isLoggedIn) {
        app.switchProfile(profileId);
    } else {
        app.switchProfileAndLogin(profileId);
    }
    view_.isMorePopoverPresented = false;
    view_.isSwitchAccountPopoverPresented = false;
    rebuild();
}

void TarnwickMenuBarContent::addAccount() {
    view_.isMorePopoverPresented = false;
    view_.isSwitchAccountPopoverPresented = false;
    rebuild();
    peers_.app->addNewAccount();
}

void TarnwickMenuBarContent::toggleMorePopover() {
    peers_.app->refreshProfiles();
    view_.isMorePopoverPresented = !view_.isMorePopoverPresented;
    rebuild();
}

void TarnwickMenuBarContent::toggleSwitchAccountPopover() {
    peers_.app->refreshProfiles();
    view_.isSwitchAccountPopoverPresented = !view_.isSwitchAccountPopoverPresented;
    rebuild();
}

// --- routines ---

void TarnwickMenuBarContent::startLoginFlow() {
    const auto& url = peers_.app->login().get().interactiveLoginUrl;
    if (!url.empty()) {
        open(url);
        peers_.app->pollForLoginCompletion();
        return;
    }
    peers_.localAPI->startLogin([post = onMain()](std::expected<std::string, LocalAPIError> result) {
        post([result = std::move(result)](TarnwickMenuBarContent& self) {
            if (!result) return self.log("LocalAPI login failed: " + result.error().description());
            self.didStartLogin(*result);
        });
    });
}

void TarnwickMenuBarContent::didStartLogin(const std::string& url) {
    if (url.empty()) return;
    auto& app = *peers_.app;
    auto login = app.login().get();
    login.interactiveLoginUrl = url;
    app.login().setIfChanged(std::move(login));
    open(url);
    app.pollForLoginCompletion();
}

void TarnwickMenuBarContent::toggleVpn() {
    const auto status = peers_.app->vpn().get().status;
    if (status == VPNConnectionStatus::connected || status == VPNConnectionStatus::connecting) {
        peers_.app->disconnect();
    } else {
        peers_.app->connect();
    }
}

void TarnwickMenuBarContent::copy(const std::string& value, const std::string& label) {
    peers_.clipboard->setText(value);
    notifyCopied(label.empty() ? "Copied" : label + " Copied", value);
}

void TarnwickMenuBarContent::notifyCopied(const std::string& title, const std::string& body) {
    peers_.notifications->show(title, body, "copy-");
}

void TarnwickMenuBarContent::open(const std::string& url) {
    if (!url.empty()) peers_.urlOpener->open(url);
}

void TarnwickMenuBarContent::exportLogs() {
    peers_.folderPicker->chooseFolder(
        "Export Logs", "Export", [weak = weak_from_this()](std::optional<std::string> folder) {
            auto self = weak.lock();
            if (self && folder && !folder->empty()) self->exportLogsInto(*folder);
        });
}

void TarnwickMenuBarContent::exportLogsInto(const std::string& folder) {
    std::vector<LogExporter::Source> sources{{peers_.logger->logPath(), "app.log"},
                                             {peers_.daemonLogPath, "client.log"}};
    peers_.workers->submit([logger = peers_.logger, sources = std::move(sources), folder,
                            post = onMain()] {
        // The copy should hold everything logged up to the user's click.
        logger->waitUntilWritten();
        auto names = LogExporter::copyInto(folder, sources);
        post([folder, names = std::move(names)](TarnwickMenuBarContent& self) {
            self.didExportLogs(folder, names);
        });
    });
}

void TarnwickMenuBarContent::didExportLogs(const std::string& folder,
                                           const std::vector<std::string>& names) {
    if (names.empty()) return;
    log("Exported logs: " + joined(names, ", "));
    open(folder);
}

void TarnwickMenuBarContent::log(const std::string& message) const {
    peers_.logger->log(kLogCategory, message);
}

}  // namespace tw
