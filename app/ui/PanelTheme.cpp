#include "app/ui/PanelTheme.h"

#include <algorithm>

namespace tw {

PanelTheme PanelTheme::make(bool dark, const QFont& base) {
    PanelTheme theme;
    theme.dark = dark;
    theme.base = base;
    if (dark) {
        theme.background = QColor(40, 40, 43, 245);
        theme.primary = QColor(242, 242, 247);
        theme.secondary = QColor(174, 174, 178);
        theme.destructive = QColor(255, 105, 97);
        theme.warning = QColor(255, 159, 10);
        theme.divider = QColor(255, 255, 255, 36);
        theme.focus = QColor(100, 160, 255);
    } else {
        theme.background = QColor(246, 246, 246, 245);
        theme.primary = QColor(29, 29, 31);
        theme.secondary = QColor(99, 99, 102);
        theme.destructive = QColor(215, 0, 21);
        theme.warning = QColor(201, 52, 0);
        theme.divider = QColor(0, 0, 0, 30);
        theme.focus = QColor(0, 100, 225);
    }
    theme.hover = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.12f);
    return theme;
}

QFont PanelTheme::font(FontRole role, bool semibold) const {
    // The desktop's font is the body size; the smaller styles keep the same steps below it as
    // their macOS counterparts keep below the body.
    const double size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    double points = size;
    switch (role) {
    case FontRole::callout: points = size; break;
    case FontRole::headline: points = size; break;
    case FontRole::subheadline: points = size - 1; break;
    case FontRole::caption: points = size - 1.5; break;
    case FontRole::footnote: points = size - 1.5; break;
    }
    QFont font = base;
    font.setPointSizeF(std::max(7.0, points));
    font.setWeight(semibold ? QFont::DemiBold : QFont::Normal);
    return font;
}

QColor PanelTheme::color(ColorRole role) const {
    switch (role) {
    case ColorRole::primary: return primary;
    case ColorRole::secondary: return secondary;
    case ColorRole::destructive: return destructive;
    case ColorRole::warning: return warning;
    }
    return primary;
}

QColor PanelTheme::dot(StatusDot dot) {
    switch (dot) {
    case StatusDot::none: return Qt::transparent;
    case StatusDot::gray: return QColor(142, 142, 147);
    case StatusDot::green: return QColor(52, 199, 89);
    case StatusDot::orange: return QColor(255, 149, 0);
    }
    return Qt::transparent;
}

}  // namespace tw
