#pragma once

#include <functional>
#include <string>

#include "app/menu/MenuPanel.h"
#include "app/menu/MenuRow.h"
#include "base/Subscription.h"

namespace tw {

// What the views render and where they send the user's input. Lives on the main queue.
class MenuPanelModel {
public:
    virtual ~MenuPanelModel() = default;

    virtual const MenuPanel& panel() const = 0;
    // Called with the new panel after every change, on the main queue.
    [[nodiscard]] virtual Subscription subscribe(std::function<void(const MenuPanel&)> callback) = 0;

    // The panel became visible.
    virtual void appeared() = 0;
    // A row was clicked or pressed; profileId names the profile of a profile row. A row that is
    // disabled, or not in the panel or an open popover, does nothing.
    virtual void activate(MenuRowId id, const std::string& profileId = {}) = 0;
    // The pointer entered (true) or left (false) a row. Only action and profile rows highlight;
    // a row that leaves the panel, or goes with its popover, loses its highlight.
    virtual void setHovering(MenuRowId id, const std::string& profileId, bool hovering) = 0;
    // The platform closed a popover (outside click, Escape).
    virtual void dismissMorePopover() = 0;
    virtual void dismissSwitchAccountPopover() = 0;
    // The uninstall confirmation's two buttons; either clears the confirmation.
    virtual void confirmUninstall() = 0;
    virtual void cancelUninstall() = 0;
};

}  // namespace tw
