#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tw {

// The application's main menu. On Linux it is the tray icon's context menu; the shell decides its
// items, the views render them.
class MainMenu {
public:
    struct Item {
        std::string title;  // empty: a separator
        std::function<void()> action;
    };

    virtual ~MainMenu() = default;

    // Replaces the menu's items, in order.
    virtual void install(std::vector<Item> items) = 0;
    // Shows the application's name, version and copyright.
    virtual void showAboutPanel() = 0;
};

}  // namespace tw
