#pragma once

#include <optional>
#include <string>

namespace tw {

// What a row is; the view picks its widget from it.
enum class MenuRowKind {
    action,                  // a button row with the row style (hover highlight, whole-row click)
    information,             // a plain line of text
    divider,                 // a thin separator
    systemExtensionWarning,  // the warning row: symbol, title, guide text, trailing symbol
    profile,                 // a profile row of an account list
    heading,                 // a section heading inside a popover
};

// Which row it is. Views and tests address rows by it; the content dispatches actions by it.
enum class MenuRowId {
    enableHelper,
    helperRegistrationError,
    login,
    switchAccount,
    quit,
    account,
    jailedReason,
    status,
    systemExtension,
    connect,
    dns,
    ipv4,
    ipv6,
    name,
    email,
    checkForUpdates,
    more,
    switchAccountHeading,
    profile,
    addAccount,
    logout,
    about,
    docs,
    exportLogs,
    uninstall,
    divider,
};

// The macOS text styles, mapped by the views onto the desktop's font.
enum class FontRole { callout, headline, subheadline, caption, footnote };
enum class ColorRole { primary, secondary, destructive, warning };
enum class StatusDot { none, gray, green, orange };
enum class MenuSymbol { none, chevronRight, checkmark, plus, warningTriangle, arrowUpForward };

struct MenuInsets {
    int top = 0;
    int leading = 0;
    int bottom = 0;
    int trailing = 0;
    bool operator==(const MenuInsets&) const = default;
};

// One row of the panel or of a popover, as data. Everything the view draws is here; the view
// decides nothing.
struct MenuRow {
    MenuRowKind kind = MenuRowKind::information;
    MenuRowId id = MenuRowId::divider;
    std::string text;
    std::string detail;  // the warning row's guide text
    std::string profileId;  // profile rows only
    bool enabled = true;
    bool hovering = false;
    FontRole font = FontRole::callout;
    bool semibold = false;
    ColorRole color = ColorRole::primary;
    double opacity = 1.0;
    int maxLines = 1;  // 0: wraps without limit; on the warning row, the guide text's limit
    MenuInsets margins;  // space outside the row
    MenuInsets insets;   // space inside the row, around its content
    StatusDot dot = StatusDot::none;
    MenuSymbol leadingSymbol = MenuSymbol::none;
    MenuSymbol trailingSymbol = MenuSymbol::none;

    bool operator==(const MenuRow&) const = default;
};

}  // namespace tw
