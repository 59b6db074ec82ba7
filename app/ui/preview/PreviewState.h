#pragma once

#include <string>
#include <vector>

#include "app/menu/MenuInputs.h"
#include "app/menu/MenuViewState.h"

namespace tw {

// One state a user can meet, as the screenshot program renders it.
struct PreviewState {
    enum class Shows { panel, uninstallConfirmation, windowWithoutTray };

    std::string name;
    MenuInputs inputs;
    MenuViewState view;
    Shows shows = Shows::panel;

    // Every state of the panel, the popovers, the confirmation and the window without a tray.
    static std::vector<PreviewState> all();
    // The state of that name; an empty panel state when there is none.
    static PreviewState named(const std::string& name);
};

}  // namespace tw
