#pragma once

#include <optional>
#include <set>
#include <string>

#include "app/menu/MenuRow.h"

namespace tw {

// The panel's own state: what the pointer is over and what is presented. All clear at creation.
struct MenuViewState {
    std::set<MenuRowId> hovering;             // action rows under the pointer
    std::optional<std::string> hoveringProfileId;  // the profile row under the pointer
    bool isMorePopoverPresented = false;
    bool isSwitchAccountPopoverPresented = false;
    bool showUninstallConfirm = false;
};

}  // namespace tw
