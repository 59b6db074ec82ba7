#pragma once

#include <memory>
#include <vector>

#include <QMenu>
#include <QString>

#include "app/menu/MainMenu.h"
#include "app/ui/TrayStatusItem.h"

namespace tw {

// The application's main menu as the tray icon's context menu (a right click on the icon, or the
// host's menu over StatusNotifierItem). "Quit Tarnwick" also answers Ctrl+Q in the panel.
class TrayMainMenu final : public MainMenu {
public:
    // `aboutText` is the about panel's text: the product, its version and copyright.
    TrayMainMenu(TrayStatusItem& statusItem, QString aboutText);

    void install(std::vector<Item> items) override;
    void showAboutPanel() override;

private:
    TrayStatusItem& statusItem_;
    const QString aboutText_;
    std::unique_ptr<QMenu> menu_;
};

}  // namespace tw
