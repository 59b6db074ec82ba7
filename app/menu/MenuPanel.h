#pragma once

#include <vector>

#include "app/menu/MenuRow.h"

namespace tw {

// The whole panel at one moment: its rows, the rows of both popovers (computed whether or not
// they are open) and which popover or confirmation is presented. Rows stack with no spacing of
// their own: every gap, a popover's padding included, is in the rows' margins.
struct MenuPanel {
    std::vector<MenuRow> rows;
    std::vector<MenuRow> morePopover;
    std::vector<MenuRow> switchAccountPopover;
    bool isMorePopoverPresented = false;
    bool isSwitchAccountPopoverPresented = false;
    bool showUninstallConfirm = false;

    bool operator==(const MenuPanel&) const = default;
};

}  // namespace tw
