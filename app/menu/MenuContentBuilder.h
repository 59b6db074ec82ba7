#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/menu/MenuInputs.h"
#include "app/menu/MenuPanel.h"
#include "app/menu/MenuViewState.h"

namespace tw {

// Lays out the panel from the inputs and the panel's own state; decides every text, order,
// condition and style token the views draw.
class MenuContentBuilder {
public:
    static MenuPanel build(const MenuInputs& inputs, const MenuViewState& view);

    // Whether the "Switch Account" row (and so its popover) is in the panel.
    static bool hasSwitchAccountRow(const MenuInputs& inputs);
    // Where the user approves the packet-tunnel extension, or why it could not be enabled.
    static std::string systemExtensionGuideText(const MenuInputs& inputs);

private:
    using Rows = std::vector<MenuRow>;

    MenuContentBuilder(const MenuInputs& inputs, const MenuViewState& view)
        : inputs_(inputs), view_(view) {}

    Rows helperApprovalRows() const;
    Rows loginRows() const;
    Rows loggedInRows() const;
    Rows identityRows() const;
    MenuRow statusRow() const;
    MenuRow connectOrExtensionRow() const;
    Rows addressRows() const;
    Rows morePopover() const;
    Rows profileList() const;
    MenuRow profileRow(const ProfileInfo& profile) const;
    MenuRow action(MenuRowId id, std::string text) const;
    MenuRow quitRow() const;

    const MenuInputs& inputs_;
    const MenuViewState& view_;
};

}  // namespace tw
