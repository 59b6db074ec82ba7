#include "app/ui/preview/PreviewPanelModel.h"

#include <cstdio>

#include "app/menu/MenuContentBuilder.h"

namespace tw {

PreviewPanelModel::PreviewPanelModel(MenuInputs inputs, MenuViewState view)
    : inputs_(std::move(inputs)), view_(std::move(view)) {
    panel_ = MenuContentBuilder::build(inputs_, view_);
}

Subscription PreviewPanelModel::subscribe(std::function<void(const MenuPanel&)> callback) {
    const int key = nextKey_++;
    subscribers_[key] = std::move(callback);
    return Subscription([this, key] { subscribers_.erase(key); });
}

void PreviewPanelModel::activate(MenuRowId id, const std::string& profileId) {
    switch (id) {
    case MenuRowId::more: view_.isMorePopoverPresented = !view_.isMorePopoverPresented; break;
    case MenuRowId::switchAccount:
        view_.isSwitchAccountPopoverPresented = !view_.isSwitchAccountPopoverPresented;
        break;
    case MenuRowId::uninstall:
        view_.isMorePopoverPresented = false;
        view_.showUninstallConfirm = true;
        break;
    default:
        std::printf("activated row %d %s\n", static_cast<int>(id), profileId.c_str());
        std::fflush(stdout);
        return;
    }
    rebuild();
}

void PreviewPanelModel::setHovering(MenuRowId id, const std::string& profileId, bool hovering) {
    if (id == MenuRowId::profile) {
        view_.hoveringProfileId = hovering ? std::optional(profileId) : std::nullopt;
    } else if (hovering) {
        view_.hovering.insert(id);
    } else {
        view_.hovering.erase(id);
    }
    rebuild();
}

void PreviewPanelModel::dismissMorePopover() {
    view_.isMorePopoverPresented = false;
    rebuild();
}

void PreviewPanelModel::dismissSwitchAccountPopover() {
    view_.isSwitchAccountPopoverPresented = false;
    rebuild();
}

void PreviewPanelModel::confirmUninstall() {
    view_.showUninstallConfirm = false;
    rebuild();
}

void PreviewPanelModel::cancelUninstall() { confirmUninstall(); }

void PreviewPanelModel::rebuild() {
    panel_ = MenuContentBuilder::build(inputs_, view_);
    const auto subscribers = subscribers_;
    for (const auto& [key, callback] : subscribers) callback(panel_);
}

}  // namespace tw
