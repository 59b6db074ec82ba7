#pragma once

#include <functional>
#include <map>

#include "app/menu/MenuInputs.h"
#include "app/menu/MenuPanelModel.h"
#include "app/menu/MenuViewState.h"

namespace tw {

// The panel of fixed inputs, laid out by the menu's own builder, with the panel's own state
// (hover, popovers, confirmation) live. Actions that would reach the application only print.
class PreviewPanelModel final : public MenuPanelModel {
public:
    PreviewPanelModel(MenuInputs inputs, MenuViewState view);

    const MenuPanel& panel() const override { return panel_; }
    [[nodiscard]] Subscription subscribe(std::function<void(const MenuPanel&)> callback) override;
    void appeared() override {}
    void activate(MenuRowId id, const std::string& profileId) override;
    void setHovering(MenuRowId id, const std::string& profileId, bool hovering) override;
    void dismissMorePopover() override;
    void dismissSwitchAccountPopover() override;
    void confirmUninstall() override;
    void cancelUninstall() override;

private:
    void rebuild();

    MenuInputs inputs_;
    MenuViewState view_;
    MenuPanel panel_;
    std::map<int, std::function<void(const MenuPanel&)>> subscribers_;
    int nextKey_ = 0;
};

}  // namespace tw
