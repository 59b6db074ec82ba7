#include "app/ui/MenuRowButton.h"

#include <algorithm>

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/ui/MenuSymbolPainter.h"

namespace tw {
namespace {

constexpr int symbolColumn = 16;
constexpr int columnSpacing = 6;
constexpr int cornerRadius = 6;
constexpr int detailSpacing = 2;
constexpr int defaultWidth = 270;

}  // namespace

MenuRowButton::MenuRowButton(const MenuRow& row, const PanelTheme& theme, HoverHandler hover,
                             QWidget* parent)
    : QAbstractButton(parent), theme_(theme), hover_(std::move(hover)) {
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setRow(row);
}

void MenuRowButton::setRow(const MenuRow& row) {
    const bool geometryChanged = row.text != row_.text || row.detail != row_.detail ||
                                 row.font != row_.font || row.margins != row_.margins ||
                                 row.insets != row_.insets || row.maxLines != row_.maxLines;
    row_ = row;
    setText(QString::fromStdString(row.text));
    setAccessibleDescription(QString::fromStdString(row.detail));
    setEnabled(row.enabled);
    // Profile rows never take keyboard focus; the others only from the keyboard, so that a click
    // leaves no focus mark behind.
    setFocusPolicy(row.kind == MenuRowKind::profile ? Qt::NoFocus : Qt::TabFocus);
    if (geometryChanged) updateGeometry();
    update();
}

void MenuRowButton::setTheme(const PanelTheme& theme) {
    theme_ = theme;
    updateGeometry();
    update();
}

bool MenuRowButton::hasLeadingColumn() const {
    return row_.kind == MenuRowKind::profile || row_.leadingSymbol != MenuSymbol::none ||
           row_.dot != StatusDot::none;
}

int MenuRowButton::wrappedHeight(const QFontMetrics& metrics, int width, const QString& text) {
    return metrics.boundingRect(QRect(0, 0, std::max(1, width), 10000), Qt::TextWordWrap, text).height();
}

int MenuRowButton::detailHeight(int width) const {
    if (row_.detail.empty()) return 0;
    const QFontMetrics metrics(theme_.font(FontRole::caption));
    const int height = wrappedHeight(metrics, width, QString::fromStdString(row_.detail));
    if (row_.maxLines <= 0) return height;
    return std::min(height, metrics.lineSpacing() * row_.maxLines);
}

MenuRowButton::Geometry MenuRowButton::geometryFor(int width) const {
    const MenuInsets& m = row_.margins;
    const MenuInsets& in = row_.insets;
    Geometry g;
    const int boxWidth = width - m.leading - m.trailing;
    int x = m.leading + in.leading;
    int right = m.leading + boxWidth - in.trailing;
    const int top = m.top + in.top;
    const QFontMetrics metrics(theme_.font(row_.font, row_.semibold));
    const bool warning = row_.kind == MenuRowKind::systemExtensionWarning;
    const int lineHeight = std::max(metrics.height(), warning ? symbolColumn : 0);
    if (hasLeadingColumn()) {
        g.leading = QRect(x, top, symbolColumn, lineHeight);
        x += symbolColumn + columnSpacing;
    }
    if (row_.trailingSymbol != MenuSymbol::none) {
        g.trailing = QRect(right - symbolColumn, top, symbolColumn, lineHeight);
        right -= symbolColumn + columnSpacing;
    }
    // The warning's title wraps rather than lose its end; other rows are one line.
    const int textWidth = std::max(0, right - x);
    const int textHeight = warning ? std::max(lineHeight, wrappedHeight(metrics, textWidth, text())) : lineHeight;
    g.text = QRect(x, top, textWidth, textHeight);
    int contentHeight = textHeight;
    if (!row_.detail.empty()) {
        g.detail = QRect(x, top + textHeight + detailSpacing, g.text.width(), detailHeight(g.text.width()));
        contentHeight += detailSpacing + g.detail.height();
    }
    g.box = QRect(m.leading, m.top, boxWidth, in.top + contentHeight + in.bottom);
    return g;
}

int MenuRowButton::heightForWidth(int width) const {
    return geometryFor(width).box.height() + row_.margins.top + row_.margins.bottom;
}

QSize MenuRowButton::sizeHint() const {
    const int width = this->width() > 0 ? this->width() : defaultWidth;
    return {width, heightForWidth(width)};
}

void MenuRowButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Geometry g = geometryFor(width());
    QPainterPath box;
    box.addRoundedRect(QRectF(g.box), cornerRadius, cornerRadius);
    if (row_.hovering) painter.fillPath(box, theme_.hover);
    if (hasFocus()) {
        painter.setPen(QPen(theme_.focus, 1.5));
        painter.drawPath(box);
    }
    // Disabled rows are dimmed as the platform dims a disabled control.
    painter.setOpacity(row_.opacity * (isEnabled() ? 1.0 : 0.45));
    paintSymbols(painter, g);
    const QFont font = theme_.font(row_.font, row_.semibold);
    painter.setFont(font);
    painter.setPen(theme_.color(row_.color));
    if (row_.kind == MenuRowKind::systemExtensionWarning) {
        painter.drawText(g.text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text());
    } else {
        painter.drawText(g.text, Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetrics(font).elidedText(text(), Qt::ElideRight, g.text.width()));
    }
    if (!g.detail.isEmpty()) {
        painter.setFont(theme_.font(FontRole::caption));
        painter.setPen(theme_.secondary);
        painter.setClipRect(g.detail);
        painter.drawText(g.detail, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                         QString::fromStdString(row_.detail));
    }
}

void MenuRowButton::paintSymbols(QPainter& painter, const Geometry& g) const {
    if (row_.dot != StatusDot::none) MenuSymbolPainter::paintDot(painter, g.leading, PanelTheme::dot(row_.dot));
    const QColor leadingColor = row_.leadingSymbol == MenuSymbol::warningTriangle
                                    ? PanelTheme::dot(StatusDot::orange)
                                    : theme_.color(row_.color);
    MenuSymbolPainter::paint(painter, row_.leadingSymbol, g.leading, leadingColor);
    if (row_.trailingSymbol == MenuSymbol::none) return;
    // The chevron is a quiet hint; the other trailing symbols are secondary text.
    painter.save();
    if (row_.trailingSymbol == MenuSymbol::chevronRight) painter.setOpacity(painter.opacity() * 0.7);
    MenuSymbolPainter::paint(painter, row_.trailingSymbol, g.trailing, theme_.secondary);
    painter.restore();
}

void MenuRowButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    if (hover_) hover_(row_, true);
}

void MenuRowButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    if (hover_) hover_(row_, false);
}

void MenuRowButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: click(); return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right: event->ignore(); return;
    default: QAbstractButton::keyPressEvent(event);
    }
}

}  // namespace tw
