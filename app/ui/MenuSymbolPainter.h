#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

#include "app/menu/MenuRow.h"

namespace tw {

// Draws the few symbols the rows use as vector shapes, so they stay crisp at any scale and need
// no icon theme.
class MenuSymbolPainter {
public:
    // Draws the symbol centred in `box` (square boxes look best).
    static void paint(QPainter& painter, MenuSymbol symbol, const QRectF& box, const QColor& color);
    static void paintDot(QPainter& painter, const QRectF& box, const QColor& color);
};

}  // namespace tw
