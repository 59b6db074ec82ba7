#pragma once

#include <QColor>
#include <QFont>

#include "app/menu/MenuRow.h"

namespace tw {

// The row tokens mapped onto the desktop: the text styles onto sizes relative to the desktop's
// font, the colour roles onto a light or a dark set. The status dots keep their gray, green and
// orange in both.
struct PanelTheme {
    bool dark = false;
    QFont base;
    QColor background;  // the panel's, slightly translucent
    QColor primary;
    QColor secondary;
    QColor destructive;
    QColor warning;
    QColor hover;  // gray at 0.12 behind a hovered row
    QColor divider;
    QColor focus;  // the outline of the row that has keyboard focus

    static PanelTheme make(bool dark, const QFont& base);

    QFont font(FontRole role, bool semibold = false) const;
    QColor color(ColorRole role) const;
    static QColor dot(StatusDot dot);
};

}  // namespace tw
