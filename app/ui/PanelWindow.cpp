#include "app/ui/PanelWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "app/ui/PanelPlacement.h"

namespace tw {
namespace {

// Room beside the rows for their rounded highlight; the rows carry every vertical gap.
constexpr int horizontalPadding = 5;

QRect globalRect(const QWidget& widget) { return {widget.mapToGlobal(QPoint(0, 0)), widget.size()}; }

}  // namespace

PanelWindow::PanelWindow(std::shared_ptr<MenuPanelModel> model, QWidget* parent)
    : RoundedPopup(parent),
      model_(std::move(model)),
      rows_(new MenuRowList(theme(), handlers(), this)),
      more_(new MenuPopover(handlers(), [this] {
          if (model_->panel().isMorePopoverPresented) model_->dismissMorePopover();
      }, this)),
      switchAccount_(new MenuPopover(handlers(), [this] {
          if (model_->panel().isSwitchAccountPopoverPresented) model_->dismissSwitchAccountPopover();
      }, this)) {
    setWindowTitle(QStringLiteral("Tarnwick"));
    setAccessibleName(QStringLiteral("Tarnwick"));
    more_->setAccessibleName(QStringLiteral("More"));
    switchAccount_->setAccessibleName(QStringLiteral("Switch Account"));
    auto* layout = new QVBoxLayout(this);
    // The height comes from fitHeight(), at the window's fixed width.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(horizontalPadding, 0, horizontalPadding, 0);
    layout->addWidget(rows_);
    setFixedWidth(panelWidth);
    subscription_ = model_->subscribe([this](const MenuPanel& panel) { render(panel); });
    render(model_->panel());
}

MenuRowList::Handlers PanelWindow::handlers() {
    return {
        .activate = [this](const MenuRow& row) { model_->activate(row.id, row.profileId); },
        .hover = [this](const MenuRow& row, bool hovering) { model_->setHovering(row.id, row.profileId, hovering); },
    };
}

void PanelWindow::setTheme(const PanelTheme& theme) {
    RoundedPopup::setTheme(theme);
    rows_->setTheme(theme);
    more_->setTheme(theme);
    switchAccount_->setTheme(theme);
}

void PanelWindow::render(const MenuPanel& panel) {
    rows_->setRows(panel.rows);
    more_->rows().setRows(panel.morePopover);
    switchAccount_->rows().setRows(panel.switchAccountPopover);
    fitHeight();
    if (isVisible() && presentation() == Presentation::popup) place();
    syncPopover(*more_, panel.isMorePopoverPresented, MenuRowId::more);
    syncPopover(*switchAccount_, panel.isSwitchAccountPopoverPresented, MenuRowId::switchAccount);
    syncConfirmation(panel.showUninstallConfirm);
}

void PanelWindow::syncPopover(MenuPopover& popover, bool presented, MenuRowId anchorRow) {
    if (!presented) {
        popover.hide();
        return;
    }
    const QWidget* anchor = rows_->widgetFor(anchorRow);
    if (popover.isVisible() || !isVisible() || !anchor) return;
    popover.showBeside(globalRect(*this), globalRect(*anchor));
}

void PanelWindow::syncConfirmation(bool shown) {
    if (!shown) {
        if (confirmation_) confirmation_->withdraw();
        return;
    }
    if (confirmation_) return;
    // The panel grabs all input while it is open, and the alert needs it.
    hide();
    confirmation_ = new UninstallConfirmation([model = model_](bool confirmed) {
        if (confirmed) {
            model->confirmUninstall();
        } else {
            model->cancelUninstall();
        }
    });
    confirmation_->show();
    confirmation_->raise();
    confirmation_->activateWindow();
}

void PanelWindow::showAt(const QRect& anchor) {
    anchor_ = anchor;
    present(Presentation::popup);
}

void PanelWindow::showAsWindow() { present(Presentation::window); }

void PanelWindow::present(Presentation presentation) {
    if (this->presentation() != presentation) setPresentation(presentation);
    fitHeight();
    if (presentation == Presentation::popup) place();
    show();
    raise();
    activateWindow();
    // A popover still presented from before opens again with the panel.
    render(model_->panel());
}

void PanelWindow::place() {
    const QScreen* screen = QGuiApplication::screenAt(anchor_.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    move(PanelPlacement::panelPosition(anchor_, size(), screen->geometry(), screen->availableGeometry()));
}

void PanelWindow::showEvent(QShowEvent* event) {
    RoundedPopup::showEvent(event);
    rows_->setFocus(Qt::PopupFocusReason);
    model_->appeared();
}

void PanelWindow::hideEvent(QHideEvent* event) {
    RoundedPopup::hideEvent(event);
    more_->hide();
    switchAccount_->hide();
    rows_->clearHover();
}

}  // namespace tw
