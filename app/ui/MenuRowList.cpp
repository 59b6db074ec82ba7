#include "app/ui/MenuRowList.h"

#include <algorithm>

#include <QKeyEvent>
#include <QVBoxLayout>

#include "app/ui/MenuDivider.h"
#include "app/ui/MenuInfoLabel.h"

namespace tw {
namespace {

// Calls `f` with the widget as the row widget type it is.
template <typename F>
void visitRowWidget(QWidget* widget, F&& f) {
    if (auto* button = qobject_cast<MenuRowButton*>(widget)) {
        f(*button);
    } else if (auto* label = qobject_cast<MenuInfoLabel*>(widget)) {
        f(*label);
    } else if (auto* divider = qobject_cast<MenuDivider*>(widget)) {
        f(*divider);
    }
}

}  // namespace

MenuRowList::MenuRowList(const PanelTheme& theme, Handlers handlers, QWidget* parent)
    : QWidget(parent), layout_(new QVBoxLayout(this)), theme_(theme), handlers_(std::move(handlers)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    // Rows keep their own heights; any height to spare stays below the last row.
    layout_->addStretch(1);
    setFocusPolicy(Qt::StrongFocus);
}

void MenuRowList::setRows(const std::vector<MenuRow>& rows) {
    if (sameShape(rows, rows_)) {
        for (std::size_t i = 0; i < rows.size(); ++i) update(widgets_[i], rows[i]);
        rows_ = rows;
        return;
    }
    // A row may be rebuilt from inside its own click handler: let Qt delete it afterwards.
    for (QWidget* widget : widgets_) {
        widget->hide();
        layout_->removeWidget(widget);
        widget->deleteLater();
    }
    widgets_.clear();
    rows_ = rows;
    for (const MenuRow& row : rows) {
        widgets_.push_back(create(row));
        layout_->insertWidget(static_cast<int>(widgets_.size()) - 1, widgets_.back());
        // Shown now rather than by the layout's queued show, so that the height the window is
        // fitted to right after counts the new rows.
        widgets_.back()->show();
    }
    updateGeometry();
}

bool MenuRowList::sameShape(const std::vector<MenuRow>& a, const std::vector<MenuRow>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const MenuRow& x, const MenuRow& y) {
        return x.kind == y.kind && x.id == y.id && x.profileId == y.profileId;
    });
}

QWidget* MenuRowList::create(const MenuRow& row) {
    switch (row.kind) {
    case MenuRowKind::action:
    case MenuRowKind::profile:
    case MenuRowKind::systemExtensionWarning: {
        auto* button = new MenuRowButton(row, theme_, handlers_.hover, this);
        connect(button, &QAbstractButton::clicked, this, [this, button] {
            if (handlers_.activate) handlers_.activate(button->row());
        });
        return button;
    }
    case MenuRowKind::information:
    case MenuRowKind::heading: return new MenuInfoLabel(row, theme_, this);
    case MenuRowKind::divider: return new MenuDivider(row, theme_, this);
    }
    return new MenuDivider(row, theme_, this);
}

void MenuRowList::update(QWidget* widget, const MenuRow& row) {
    visitRowWidget(widget, [&row](auto& rowWidget) { rowWidget.setRow(row); });
}

void MenuRowList::setTheme(const PanelTheme& theme) {
    theme_ = theme;
    for (QWidget* widget : widgets_) visitRowWidget(widget, [&theme](auto& w) { w.setTheme(theme); });
}

QWidget* MenuRowList::widgetFor(MenuRowId id, const std::string& profileId) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].id == id && rows_[i].profileId == profileId) return widgets_[i];
    }
    return nullptr;
}

MenuRowButton* MenuRowList::buttonFor(MenuRowId id, const std::string& profileId) const {
    return qobject_cast<MenuRowButton*>(widgetFor(id, profileId));
}

void MenuRowList::clearHover() {
    for (QWidget* widget : widgets_) {
        auto* button = qobject_cast<MenuRowButton*>(widget);
        if (button && button->row().hovering && handlers_.hover) handlers_.hover(button->row(), false);
    }
}

std::vector<MenuRowButton*> MenuRowList::focusableButtons() const {
    std::vector<MenuRowButton*> buttons;
    for (QWidget* widget : widgets_) {
        auto* button = qobject_cast<MenuRowButton*>(widget);
        if (button && button->isEnabled() && (button->focusPolicy() & Qt::TabFocus)) buttons.push_back(button);
    }
    return buttons;
}

void MenuRowList::focusEdgeRow(bool first) {
    const auto buttons = focusableButtons();
    if (!buttons.empty()) (first ? buttons.front() : buttons.back())->setFocus(Qt::TabFocusReason);
}

void MenuRowList::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Down && event->key() != Qt::Key_Up) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool down = event->key() == Qt::Key_Down;
    const auto buttons = focusableButtons();
    const auto current = std::find(buttons.begin(), buttons.end(), focusWidget());
    if (buttons.empty()) return;
    if (current == buttons.end()) {
        focusEdgeRow(down);
        return;
    }
    const auto index = static_cast<std::size_t>(current - buttons.begin());
    const std::size_t next = down ? (index + 1) % buttons.size() : (index + buttons.size() - 1) % buttons.size();
    buttons[next]->setFocus(Qt::TabFocusReason);
}

}  // namespace tw
