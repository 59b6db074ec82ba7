#include "app/ui/MenuPopover.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "app/ui/PanelPlacement.h"

namespace tw {
namespace {

// Room beside the rows for their rounded highlight; the rows carry every vertical gap.
constexpr int horizontalPadding = 5;

}  // namespace

MenuPopover::MenuPopover(MenuRowList::Handlers handlers, std::function<void()> hidden, QWidget* parent)
    : RoundedPopup(parent), rows_(new MenuRowList(theme(), std::move(handlers), this)), hidden_(std::move(hidden)) {
    // A click on the popover's own row closes the popover and must not open it again.
    setAttribute(Qt::WA_NoMouseReplay);
    auto* layout = new QVBoxLayout(this);
    // The height comes from fitHeight(), at the window's fixed width.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(horizontalPadding, 0, horizontalPadding, 0);
    layout->addWidget(rows_);
    setFixedWidth(contentWidth + 2 * horizontalPadding);
}

void MenuPopover::setTheme(const PanelTheme& theme) {
    RoundedPopup::setTheme(theme);
    rows_->setTheme(theme);
}

void MenuPopover::showBeside(const QRect& panel, const QRect& row) {
    fitHeight();
    const QScreen* screen = QGuiApplication::screenAt(row.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    move(PanelPlacement::popoverPosition(panel, row, size(), screen->availableGeometry()));
    show();
    raise();
}

void MenuPopover::showEvent(QShowEvent* event) {
    RoundedPopup::showEvent(event);
    rows_->setFocus(Qt::PopupFocusReason);
}

void MenuPopover::hideEvent(QHideEvent* event) {
    RoundedPopup::hideEvent(event);
    rows_->clearHover();
    if (hidden_) hidden_();
}

}  // namespace tw
