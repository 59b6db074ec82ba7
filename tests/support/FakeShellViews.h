#pragma once

#include <string>
#include <vector>

#include "app/menu/MainMenu.h"
#include "app/menu/StatusBarController.h"

namespace tw {

// The status item and the main menu of the tests; every call lands in `calls`, in order.
class FakeShellViews final : public StatusBarController, public MainMenu {
public:
    void setupMenuBar() override { calls.push_back("setupMenuBar"); }
    void updateStatusItemIcon() override { calls.push_back("updateStatusItemIcon"); }
    void togglePopover() override { calls.push_back("togglePopover"); }
    void showWindow() override { calls.push_back("showWindow"); }
    void install(std::vector<Item> menuItems) override {
        calls.push_back("installMainMenu");
        items = std::move(menuItems);
    }
    void showAboutPanel() override { calls.push_back("showAboutPanel"); }

    std::vector<std::string> calls;
    std::vector<Item> items;
};

}  // namespace tw
