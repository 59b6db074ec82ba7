#include "app/ui/MenuInfoLabel.h"

#include <QPainter>

#include "app/ui/MenuSymbolPainter.h"

namespace tw {
namespace {

constexpr int dotColumn = 16;
constexpr int dotSpacing = 6;

}  // namespace

MenuInfoLabel::MenuInfoLabel(const MenuRow& row, const PanelTheme& theme, QWidget* parent)
    : QLabel(parent), row_(row), theme_(theme) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    apply();
}

void MenuInfoLabel::setRow(const MenuRow& row) {
    if (row == row_) return;
    row_ = row;
    apply();
}

void MenuInfoLabel::setTheme(const PanelTheme& theme) {
    theme_ = theme;
    apply();
}

void MenuInfoLabel::apply() {
    const MenuInsets& m = row_.margins;
    const MenuInsets& in = row_.insets;
    const int dot = row_.dot == StatusDot::none ? 0 : dotColumn + dotSpacing;
    setContentsMargins(m.leading + in.leading + dot, m.top + in.top, m.trailing + in.trailing,
                       m.bottom + in.bottom);
    setFont(theme_.font(row_.font, row_.semibold));
    QPalette palette = this->palette();
    QColor color = theme_.color(row_.color);
    color.setAlphaF(color.alphaF() * row_.opacity);
    palette.setColor(QPalette::WindowText, color);
    setPalette(palette);
    setWordWrap(row_.maxLines != 1);
    setAccessibleName(QString::fromStdString(row_.text));
    elide();
    updateGeometry();
    // QLabel repaints only its text on a change; the dot sits in the margin beside it.
    update();
}

void MenuInfoLabel::elide() {
    const QString full = QString::fromStdString(row_.text);
    if (wordWrap() || contentsRect().width() <= 0) {
        setText(full);
        return;
    }
    setText(fontMetrics().elidedText(full, Qt::ElideRight, contentsRect().width()));
}

void MenuInfoLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void MenuInfoLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (row_.dot == StatusDot::none) return;
    QPainter painter(this);
    const int x = contentsRect().left() - dotSpacing - dotColumn;
    const int lineHeight = fontMetrics().height();
    MenuSymbolPainter::paintDot(painter, QRectF(x, contentsRect().top(), dotColumn, lineHeight),
                                PanelTheme::dot(row_.dot));
}

}  // namespace tw
