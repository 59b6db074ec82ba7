#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <QObject>
#include <QSystemTrayIcon>

#include "app/menu/MenuPanelModel.h"
#include "app/menu/StatusBarController.h"
#include "app/ui/DesktopColorScheme.h"
#include "app/ui/PanelWindow.h"
#include "base/AppLogger.h"
#include "base/Subscription.h"

namespace tw {

// The status item: the tray icon and its panel. A click on the icon toggles the panel; a click
// elsewhere closes it (the popup's own behaviour). Without any tray host, the panel is shown as a
// small ordinary window instead, and the user is told once why; the icon stays registered, since a
// host that starts later picks it up.
class TrayStatusItem final : public QObject, public StatusBarController {
    Q_OBJECT

public:
    // Posts a user notification (title, body).
    using Notify = std::function<void(const std::string&, const std::string&)>;

    // `iconAsset` is the bundle's Resources/menu_icon.svg; it is looked for on every icon update.
    TrayStatusItem(std::shared_ptr<MenuPanelModel> model, std::shared_ptr<AppLogger> logger,
                   std::filesystem::path iconAsset, Notify notify);
    ~TrayStatusItem() override;

    void setupMenuBar() override;
    void updateStatusItemIcon() override;
    void togglePopover() override;
    void showWindow() override;

    // Called after a click on the icon has shown the panel: the application became active.
    std::function<void()> didShowFromTray;

    PanelWindow* panel() const { return panel_.get(); }
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    // The tooltip for the panel's current rows: the product and its state in words.
    static QString toolTipFor(const MenuPanel& panel);

private:
    bool hasTray() const;
    QRect anchor() const;
    void applyTheme();
    void themePanel();

    const std::shared_ptr<MenuPanelModel> model_;
    const std::shared_ptr<AppLogger> logger_;
    const std::filesystem::path iconAsset_;
    const Notify notify_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<PanelWindow> panel_;
    DesktopColorScheme colorScheme_;
    Subscription subscription_;
    bool toldAboutMissingTray_ = false;
};

}  // namespace tw
