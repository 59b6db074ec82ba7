#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/menu/MenuPanelModel.h"

namespace tw {

// A panel model whose panel the test sets. It behaves as the content does where the views rely
// on it: hover flags follow setHovering, "More" and "Switch Account" toggle their popovers, the
// dismissals and the confirmation's answers clear their flags; every input is recorded.
class FakeMenuPanelModel final : public MenuPanelModel {
public:
    struct Activation {
        MenuRowId id;
        std::string profileId;
        bool operator==(const Activation&) const = default;
    };

    void setPanel(MenuPanel panel) {
        panel_ = std::move(panel);
        publish();
    }

    const MenuPanel& panel() const override { return panel_; }

    Subscription subscribe(std::function<void(const MenuPanel&)> callback) override {
        const int key = nextKey_++;
        subscribers_[key] = std::move(callback);
        return Subscription([this, key] { subscribers_.erase(key); });
    }

    void appeared() override { ++appearances; }

    void activate(MenuRowId id, const std::string& profileId) override {
        activations.push_back({id, profileId});
        if (id == MenuRowId::more) panel_.isMorePopoverPresented = !panel_.isMorePopoverPresented;
        if (id == MenuRowId::switchAccount) {
            panel_.isSwitchAccountPopoverPresented = !panel_.isSwitchAccountPopoverPresented;
        }
        if (id == MenuRowId::uninstall) {
            panel_.isMorePopoverPresented = false;
            panel_.showUninstallConfirm = true;
        }
        publish();
    }

    void setHovering(MenuRowId id, const std::string& profileId, bool hovering) override {
        for (auto* rows : {&panel_.rows, &panel_.morePopover, &panel_.switchAccountPopover}) {
            for (MenuRow& row : *rows) {
                if (row.id == id && row.profileId == profileId) row.hovering = hovering;
            }
        }
        publish();
    }

    void dismissMorePopover() override {
        ++moreDismissals;
        panel_.isMorePopoverPresented = false;
        publish();
    }

    void dismissSwitchAccountPopover() override {
        panel_.isSwitchAccountPopoverPresented = false;
        publish();
    }

    void confirmUninstall() override { answerUninstall(true); }
    void cancelUninstall() override { answerUninstall(false); }

    int appearances = 0;
    int moreDismissals = 0;
    std::vector<Activation> activations;
    std::vector<bool> uninstallAnswers;

private:
    void answerUninstall(bool confirmed) {
        uninstallAnswers.push_back(confirmed);
        panel_.showUninstallConfirm = false;
        publish();
    }

    void publish() {
        const auto subscribers = subscribers_;
        for (const auto& [key, callback] : subscribers) callback(panel_);
    }

    MenuPanel panel_;
    std::map<int, std::function<void(const MenuPanel&)>> subscribers_;
    int nextKey_ = 0;
};

}  // namespace tw
