#include "app/ui/MenuDivider.h"

#include <algorithm>

#include <QPainter>

namespace tw {
namespace {

// Space above and below the line when the row asks for none, as a menu separator has.
constexpr int dividerHeight = 9;

}  // namespace

MenuDivider::MenuDivider(const MenuRow& row, const PanelTheme& theme, QWidget* parent)
    : QWidget(parent), theme_(theme) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setRow(row);
}

void MenuDivider::setRow(const MenuRow& row) {
    row_ = row;
    const int height = row.margins.top + row.insets.top + 1 + row.insets.bottom + row.margins.bottom;
    setFixedHeight(std::max(dividerHeight, height));
    update();
}

void MenuDivider::setTheme(const PanelTheme& theme) {
    theme_ = theme;
    update();
}

void MenuDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int left = row_.margins.leading + row_.insets.leading + 8;
    const int right = width() - row_.margins.trailing - row_.insets.trailing - 8;
    const int top = row_.margins.top + row_.insets.top;
    const int bottom = height() - row_.margins.bottom - row_.insets.bottom;
    painter.fillRect(QRect(left, top + (bottom - top) / 2, right - left, 1), theme_.divider);
}

}  // namespace tw
