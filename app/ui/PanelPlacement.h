#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tw {

// Where the panel and its popovers go on screen. Pure arithmetic on rectangles in global
// coordinates (y grows downwards), so it is tested without a display.
class PanelPlacement {
public:
    enum class Edge { top, bottom, left, right };

    // The gap between the icon and the panel, and between the panel and a popover.
    static constexpr int gap = 5;

    // The screen edge the tray sits on: the side where the anchor lies outside the available area
    // (a panel reserves that strip), else the screen edge nearest to the anchor.
    static Edge trayEdge(const QRect& anchor, const QRect& screen, const QRect& available);

    // The panel's top-left corner: centred on the anchor (the icon, or the pointer as a 1 × 1
    // rectangle) and `gap` away from it on the side away from the tray's edge, then moved as
    // little as needed to lie inside the available area.
    static QPoint panelPosition(const QRect& anchor, const QSize& panel, const QRect& screen,
                                const QRect& available);

    // A popover's top-left corner: beside the panel at the height of its row, on the right where
    // it fits, else on the left; inside the available area.
    static QPoint popoverPosition(const QRect& panel, const QRect& row, const QSize& popover,
                                  const QRect& available);

    // The point moved as little as needed for a rectangle of `size` there to lie inside `area`
    // (its top-left corner when the rectangle is larger than the area).
    static QPoint clamp(QPoint point, const QSize& size, const QRect& area);
};

}  // namespace tw
