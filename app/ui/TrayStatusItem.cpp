#include "app/ui/TrayStatusItem.h"

#include <QApplication>
#include <QCursor>

#include "app/ui/ApplicationAccessible.h"
#include "app/ui/StatusIconFactory.h"

namespace tw {
namespace {

const std::string noTrayTitle = "Tarnwick is running without a tray icon";
const std::string noTrayBody =
    "This desktop shows no tray icons, so Tarnwick opened its window instead. To keep Tarnwick in "
    "the top bar, install a tray host such as GNOME's \"AppIndicator and KStatusNotifierItem "
    "Support\" extension. The VPN also appears in the desktop's network settings.";

const MenuRow* findRow(const MenuPanel& panel, MenuRowId id) {
    for (const MenuRow& row : panel.rows) {
        if (row.id == id) return &row;
    }
    return nullptr;
}

}  // namespace

TrayStatusItem::TrayStatusItem(std::shared_ptr<MenuPanelModel> model, std::shared_ptr<AppLogger> logger,
                               std::filesystem::path iconAsset, Notify notify)
    : model_(std::move(model)), logger_(std::move(logger)), iconAsset_(std::move(iconAsset)),
      notify_(std::move(notify)) {
    connect(&colorScheme_, &DesktopColorScheme::changed, this, &TrayStatusItem::applyTheme);
}

TrayStatusItem::~TrayStatusItem() = default;

void TrayStatusItem::setupMenuBar() {
    logger_->log("App", "Setting up Menu Bar...");
    ApplicationAccessible::install();
    tray_ = std::make_unique<QSystemTrayIcon>();
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger) return;
        togglePopover();
        if (panel_->isVisible() && didShowFromTray) didShowFromTray();
    });
    subscription_ = model_->subscribe([this](const MenuPanel& panel) { tray_->setToolTip(toolTipFor(panel)); });
    tray_->setToolTip(toolTipFor(model_->panel()));
    updateStatusItemIcon();
    // The icon goes to the tray before the panel is built: the tray host embeds it meanwhile, and
    // nothing can open the panel before this task is over.
    tray_->show();
    panel_ = std::make_unique<PanelWindow>(model_);
    themePanel();
    if (!hasTray()) showWindow();
}

void TrayStatusItem::updateStatusItemIcon() {
    if (!tray_) return;
    if (const QIcon themed = StatusIconFactory::themed(); !themed.isNull()) {
        tray_->setIcon(themed);
        return;
    }
    // The bar's text colour: light on a dark bar, dark on a light one.
    const QColor color = colorScheme_.prefersDark() ? QColor(242, 242, 242) : QColor(46, 46, 46);
    const QIcon asset = std::filesystem::exists(iconAsset_) ? StatusIconFactory::fromAsset(iconAsset_, color) : QIcon();
    if (!asset.isNull()) {
        tray_->setIcon(asset);
        return;
    }
    logger_->log("App", "Menu bar icon asset not found: menu_icon");
    tray_->setIcon(StatusIconFactory::text(color));
}

void TrayStatusItem::togglePopover() {
    updateStatusItemIcon();
    if (panel_ && panel_->isVisible()) {
        panel_->hide();
        return;
    }
    showWindow();
}

void TrayStatusItem::showWindow() {
    if (!panel_) return;
    if (hasTray()) {
        panel_->showAt(anchor());
        return;
    }
    panel_->showAsWindow();
    if (!toldAboutMissingTray_ && notify_) {
        toldAboutMissingTray_ = true;
        notify_(noTrayTitle, noTrayBody);
    }
}

bool TrayStatusItem::hasTray() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

QRect TrayStatusItem::anchor() const {
    // XEmbed trays report the icon's geometry (correct only once the click arrives, which is now);
    // StatusNotifierItem hosts report none, so the pointer that just clicked the icon stands in.
    const QRect icon = tray_ ? tray_->geometry() : QRect();
    return icon.isValid() && !icon.isEmpty() ? icon : QRect(QCursor::pos(), QSize(1, 1));
}

// The icon in the colour that goes with the theme, too.
void TrayStatusItem::applyTheme() {
    themePanel();
    updateStatusItemIcon();
}

void TrayStatusItem::themePanel() {
    if (panel_) panel_->setTheme(PanelTheme::make(colorScheme_.prefersDark(), QApplication::font()));
}

QString TrayStatusItem::toolTipFor(const MenuPanel& panel) {
    QString state;
    if (const MenuRow* status = findRow(panel, MenuRowId::status)) {
        state = QString::fromStdString(status->text);
    } else if (findRow(panel, MenuRowId::enableHelper)) {
        state = QStringLiteral("Helper needs approval");
    } else {
        state = QStringLiteral("Logged out");
    }
    return QStringLiteral("Tarnwick — ") + state;
}

}  // namespace tw
