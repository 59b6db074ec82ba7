#include "app/ui/PanelPlacement.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tw {

PanelPlacement::Edge PanelPlacement::trayEdge(const QRect& anchor, const QRect& screen,
                                              const QRect& available) {
    const QPoint centre = anchor.center();
    if (centre.y() < available.top()) return Edge::top;
    if (centre.y() > available.bottom()) return Edge::bottom;
    if (centre.x() < available.left()) return Edge::left;
    if (centre.x() > available.right()) return Edge::right;
    const std::array<std::pair<int, Edge>, 4> distances{{
        {centre.y() - screen.top(), Edge::top},
        {screen.bottom() - centre.y(), Edge::bottom},
        {centre.x() - screen.left(), Edge::left},
        {screen.right() - centre.x(), Edge::right},
    }};
    return std::min_element(distances.begin(), distances.end(),
                            [](const auto& a, const auto& b) { return a.first < b.first; })
        ->second;
}

QPoint PanelPlacement::panelPosition(const QRect& anchor, const QSize& panel, const QRect& screen,
                                     const QRect& available) {
    // QRect::center() rounds the other way for odd sizes; centre as x + (w - W) / 2.
    const int centredX = anchor.x() + (anchor.width() - panel.width()) / 2;
    const int centredY = anchor.y() + (anchor.height() - panel.height()) / 2;
    QPoint point;
    switch (trayEdge(anchor, screen, available)) {
    case Edge::top: point = {centredX, anchor.y() + anchor.height() + gap}; break;
    case Edge::bottom: point = {centredX, anchor.y() - gap - panel.height()}; break;
    case Edge::left: point = {anchor.x() + anchor.width() + gap, centredY}; break;
    case Edge::right: point = {anchor.x() - gap - panel.width(), centredY}; break;
    }
    return clamp(point, panel, available);
}

QPoint PanelPlacement::popoverPosition(const QRect& panel, const QRect& row, const QSize& popover,
                                       const QRect& available) {
    int x = panel.x() + panel.width() + gap;
    if (x + popover.width() > available.x() + available.width()) x = panel.x() - gap - popover.width();
    return clamp({x, row.y()}, popover, available);
}

QPoint PanelPlacement::clamp(QPoint point, const QSize& size, const QRect& area) {
    const int maxX = std::max(area.x(), area.x() + area.width() - size.width());
    const int maxY = std::max(area.y(), area.y() + area.height() - size.height());
    return {std::clamp(point.x(), area.x(), maxX), std::clamp(point.y(), area.y(), maxY)};
}

}  // namespace tw
