#include "app/menu/MenuContentBuilder.h"

#include <utility>

#include "app/menu/TarnwickIPs.h"

namespace tw {

namespace {

using Rows = std::vector<MenuRow>;

constexpr int kRowInsetH = 14;
constexpr int kRowInsetV = 6;
constexpr int kPopoverPadding = 12;
constexpr int kPopoverSpacing = 8;
constexpr int kProfileListSpacing = 4;
constexpr double kDimmed = 0.65;

constexpr const char* kGuideFailurePrefix = "システム拡張を有効化できませんでした\n";
// Approval on this desktop is the administrator prompt the row itself opens (installing the
// extension), not a settings page the user has to find.
constexpr const char* kGuideApprovalText =
    "Click here → Administrator authentication\nでネットワーク拡張を許可してください";

MenuRow divider(MenuInsets margins = {}) {
    MenuRow row;
    row.kind = MenuRowKind::divider;
    row.id = MenuRowId::divider;
    row.margins = margins;
    return row;
}

// A dimmed line of secondary text: the account, status, name and e-mail lines.
MenuRow infoLine(MenuRowId id, std::string text, FontRole font, MenuInsets insets) {
    MenuRow row;
    row.kind = MenuRowKind::information;
    row.id = id;
    row.text = std::move(text);
    row.font = font;
    row.color = ColorRole::secondary;
    row.opacity = kDimmed;
    row.insets = insets;
    return row;
}

void append(Rows& rows, Rows more) {
    for (auto& row : more) rows.push_back(std::move(row));
}

// Flattens a vertical stack: each group after the first starts `spacing` below the one before.
Rows stack(std::vector<Rows> groups, int spacing) {
    Rows rows;
    for (auto& group : groups) {
        if (group.empty()) continue;
        if (!rows.empty()) group.front().margins.top += spacing;
        append(rows, std::move(group));
    }
    return rows;
}

Rows padVertically(Rows rows, int padding) {
    if (rows.empty()) return rows;
    rows.front().margins.top += padding;
    rows.back().margins.bottom += padding;
    return rows;
}

struct StatusLine {
    StatusDot dot;
    const char* text;
};

StatusLine statusLine(const MenuInputs& inputs) {
    if (inputs.login.jailedReason) return {StatusDot::orange, "Blocked by Device Policy"};
    switch (inputs.vpnStatus) {
        case VPNConnectionStatus::disconnected: return {StatusDot::gray, "Disconnected"};
        case VPNConnectionStatus::connected: return {StatusDot::green, "Connected"};
        case VPNConnectionStatus::connecting: return {StatusDot::orange, "Connecting..."};
        case VPNConnectionStatus::disconnecting: return {StatusDot::orange, "Disconnecting..."};
        case VPNConnectionStatus::error: return {StatusDot::orange, "Error"};
        case VPNConnectionStatus::unknown: break;
    }
    return {StatusDot::orange, "Unknown"};
}

}  // namespace

MenuPanel MenuContentBuilder::build(const MenuInputs& inputs, const MenuViewState& view) {
    const MenuContentBuilder builder(inputs, view);
    MenuPanel panel;
    if (inputs.login.isLoggedIn) {
        panel.rows = builder.loggedInRows();
    } else if (inputs.helperNeedsApproval) {
        panel.rows = builder.helperApprovalRows();
    } else {
        panel.rows = builder.loginRows();
    }
    panel.morePopover = builder.morePopover();
    panel.switchAccountPopover = padVertically(builder.profileList(), kPopoverPadding);
    panel.isMorePopoverPresented = view.isMorePopoverPresented;
    panel.isSwitchAccountPopoverPresented = view.isSwitchAccountPopoverPresented;
    panel.showUninstallConfirm = view.showUninstallConfirm;
    return panel;
}

bool MenuContentBuilder::hasSwitchAccountRow(const MenuInputs& inputs) {
    return !inputs.login.isLoggedIn && !inputs.helperNeedsApproval && inputs.profiles.size() >= 2;
}

std::string MenuContentBuilder::systemExtensionGuideText(const MenuInputs& inputs) {
    const auto& error = inputs.extensionLastError;
    if (!inputs.extensionNeedsUserApproval && error && !error->empty())
        return kGuideFailurePrefix + *error;
    return kGuideApprovalText;
}

MenuContentBuilder::Rows MenuContentBuilder::helperApprovalRows() const {
    Rows rows;
    auto enable = action(MenuRowId::enableHelper, "Enable Helper (Login Items)");
    enable.margins = {.top = 8, .bottom = 4};
    rows.push_back(std::move(enable));
    const auto& error = inputs_.helperRegistrationError;
    if (error && !error->empty()) {
        MenuRow line;
        line.id = MenuRowId::helperRegistrationError;
        line.text = *error;
        line.font = FontRole::caption;
        line.color = ColorRole::secondary;
        line.maxLines = 0;
        line.insets = {.leading = kRowInsetH, .trailing = kRowInsetH};
        line.margins = {.bottom = 6};
        rows.push_back(std::move(line));
    }
    rows.push_back(divider());
    rows.push_back(quitRow());
    return rows;
}

MenuContentBuilder::Rows MenuContentBuilder::loginRows() const {
    Rows rows;
    auto login = action(MenuRowId::login, "Login Tarnwick");
    login.margins = {.top = 8, .bottom = 4};
    rows.push_back(std::move(login));
    if (hasSwitchAccountRow(inputs_)) {
        rows.push_back(divider());
        auto switchAccount = action(MenuRowId::switchAccount, "Switch Account");
        switchAccount.trailingSymbol = MenuSymbol::chevronRight;
        rows.push_back(std::move(switchAccount));
    }
    rows.push_back(divider());
    rows.push_back(quitRow());
    return rows;
}

MenuContentBuilder::Rows MenuContentBuilder::loggedInRows() const {
    const auto& login = inputs_.login;
    Rows rows;
    auto account = infoLine(MenuRowId::account, login.email.empty() ? "Signed in" : login.email,
                            FontRole::headline, {.top = 8, .leading = kRowInsetH, .bottom = 2,
                                                 .trailing = kRowInsetH});
    rows.push_back(std::move(account));
    if (login.jailedReason) {
        auto reason = infoLine(MenuRowId::jailedReason, *login.jailedReason, FontRole::subheadline,
                               {.leading = kRowInsetH, .bottom = 2, .trailing = kRowInsetH});
        reason.maxLines = 0;
        rows.push_back(std::move(reason));
    }
    rows.push_back(statusRow());
    rows.push_back(divider());
    rows.push_back(connectOrExtensionRow());
    append(rows, addressRows());
    append(rows, identityRows());
    rows.push_back(divider());
    auto check = action(MenuRowId::checkForUpdates, "Check for Updates...");
    check.enabled = inputs_.canCheckForUpdates;
    rows.push_back(std::move(check));
    auto more = action(MenuRowId::more, "More");
    more.trailingSymbol = MenuSymbol::chevronRight;
    rows.push_back(std::move(more));
    rows.push_back(divider());
    rows.push_back(quitRow());
    return rows;
}

MenuRow MenuContentBuilder::statusRow() const {
    const auto line = statusLine(inputs_);
    auto row = infoLine(MenuRowId::status, line.text, FontRole::headline,
                        {.leading = kRowInsetH, .bottom = 4, .trailing = kRowInsetH});
    row.dot = line.dot;
    return row;
}

MenuRow MenuContentBuilder::connectOrExtensionRow() const {
    if (inputs_.isExtensionApproved) {
        const bool connected = inputs_.vpnStatus == VPNConnectionStatus::connected;
        return action(MenuRowId::connect, connected ? "Disconnect" : "Connect");
    }
    MenuRow row;
    row.kind = MenuRowKind::systemExtensionWarning;
    row.id = MenuRowId::systemExtension;
    row.text = inputs_.extensionNeedsUserApproval ? "System Extension Approval Required"
                                                  : "System Extension Not Active";
    row.detail = systemExtensionGuideText(inputs_);
    row.maxLines = 5;
    row.insets = {kRowInsetV, kRowInsetH, kRowInsetV, kRowInsetH};
    row.leadingSymbol = MenuSymbol::warningTriangle;
    row.trailingSymbol = MenuSymbol::arrowUpForward;
    return row;
}

MenuContentBuilder::Rows MenuContentBuilder::addressRows() const {
    Rows rows;
    const auto& hostName = inputs_.login.hostName;
    if (!hostName.empty()) rows.push_back(action(MenuRowId::dns, "DNS: " + hostName));
    if (const auto ips = splitIPs(inputs_.login.tarnwickIPs)) {
        if (!ips->ipv4.empty()) rows.push_back(action(MenuRowId::ipv4, "Tarnwick IPv4: " + ips->ipv4));
        if (!ips->ipv6.empty()) rows.push_back(action(MenuRowId::ipv6, "Tarnwick IPv6: " + ips->ipv6));
    }
    // A divider only above rows that exist: an address text without any address draws none.
    if (!rows.empty()) rows.insert(rows.begin(), divider());
    return rows;
}

MenuContentBuilder::Rows MenuContentBuilder::identityRows() const {
    const auto& login = inputs_.login;
    const MenuInsets insets{.top = 4, .leading = kRowInsetH, .bottom = 2, .trailing = kRowInsetH};
    Rows rows;
    if (!login.userName.empty())
        rows.push_back(infoLine(MenuRowId::name, "Name: " + login.userName, FontRole::headline, insets));
    if (!login.email.empty())
        rows.push_back(infoLine(MenuRowId::email, "Email: " + login.email, FontRole::headline, insets));
    return rows;
}

MenuContentBuilder::Rows MenuContentBuilder::morePopover() const {
    MenuRow heading;
    heading.kind = MenuRowKind::heading;
    heading.id = MenuRowId::switchAccountHeading;
    heading.text = "Switch Account";
    heading.font = FontRole::caption;
    heading.semibold = true;
    heading.color = ColorRole::secondary;
    heading.insets = {.leading = kRowInsetH, .trailing = kRowInsetH};

    std::vector<Rows> groups{{std::move(heading)}, profileList(), {divider()},
                             {action(MenuRowId::logout, "Logout")}};
    if (!inputs_.isWhiteLabelBuild) {
        groups.push_back({divider()});
        groups.push_back({action(MenuRowId::about, "About")});
        groups.push_back({action(MenuRowId::docs, "Docs")});
    }
    auto uninstall = action(MenuRowId::uninstall, "Uninstall Tarnwick");
    uninstall.color = ColorRole::destructive;
    groups.push_back({divider()});
    groups.push_back({action(MenuRowId::exportLogs, "Export Logs")});
    groups.push_back({divider()});
    groups.push_back({std::move(uninstall)});
    return padVertically(stack(std::move(groups), kPopoverSpacing), kPopoverPadding);
}

MenuContentBuilder::Rows MenuContentBuilder::profileList() const {
    std::vector<Rows> groups;
    for (const auto& profile : inputs_.profiles) groups.push_back({profileRow(profile)});
    if (!inputs_.profiles.empty()) groups.push_back({divider({.top = 4, .bottom = 4})});
    auto add = action(MenuRowId::addAccount, "Add Account");
    add.leadingSymbol = MenuSymbol::plus;
    groups.push_back({std::move(add)});
    return stack(std::move(groups), kProfileListSpacing);
}

MenuRow MenuContentBuilder::profileRow(const ProfileInfo& profile) const {
    MenuRow row;
    row.kind = MenuRowKind::profile;
    row.id = MenuRowId::profile;
    row.profileId = profile.id;
    const auto& email = profile.userEmail;
    row.text = email && !email->empty() ? *email : profile.name;
    // The current profile is where the user already is: nothing to switch to.
    row.enabled = !profile.isCurrent;
    row.hovering = view_.hoveringProfileId == profile.id;
    row.insets = {kRowInsetV, kRowInsetH, kRowInsetV, kRowInsetH};
    row.leadingSymbol = profile.isCurrent ? MenuSymbol::checkmark : MenuSymbol::none;
    return row;
}

MenuRow MenuContentBuilder::action(MenuRowId id, std::string text) const {
    MenuRow row;
    row.kind = MenuRowKind::action;
    row.id = id;
    row.text = std::move(text);
    row.hovering = view_.hovering.contains(id);
    row.insets = {kRowInsetV, kRowInsetH, kRowInsetV, kRowInsetH};
    return row;
}

MenuRow MenuContentBuilder::quitRow() const {
    auto row = action(MenuRowId::quit, "Quit Tarnwick");
    row.margins = {.bottom = 4};
    return row;
}

}  // namespace tw
