#include "app/ui/PanelPlacement.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

const QRect screen(0, 0, 1920, 1080);
const QSize kPanelSize(280, 400);

TEST(PanelPlacement, CentresThePanelFivePixelsBelowAnIconInATopBar) {
    const QRect available(0, 32, 1920, 1048);
    // An odd difference of widths: the panel's left edge is x + (w - W) / 2, as the icon's frame gives.
    const QRect icon(900, 5, 23, 22);
    const QPoint position = PanelPlacement::panelPosition(icon, kPanelSize, screen, available);
    EXPECT_EQ(position, QPoint(900 + (23 - 280) / 2, 5 + 22 + 5));
    // Whatever the panel's size.
    EXPECT_EQ(PanelPlacement::panelPosition(icon, QSize(300, 120), screen, available), QPoint(900 - 138, 32));
}

TEST(PanelPlacement, MirrorsForBottomTraysAndGoesBesideSideTrays) {
    const QRect bottomIcon(1500, 1052, 24, 24);
    EXPECT_EQ(
        PanelPlacement::panelPosition(bottomIcon, kPanelSize, screen, QRect(0, 0, 1920, 1048)),
        QPoint(1500 + (24 - 280) / 2, 1052 - 5 - 400));
    const QRect leftIcon(4, 500, 24, 24);
    EXPECT_EQ(PanelPlacement::panelPosition(leftIcon, kPanelSize, screen, QRect(32, 0, 1888, 1080)),
              QPoint(4 + 24 + 5, 500 + (24 - 400) / 2));
    const QRect rightIcon(1892, 500, 24, 24);
    EXPECT_EQ(PanelPlacement::panelPosition(rightIcon, kPanelSize, screen, QRect(0, 0, 1888, 1080)),
              QPoint(1892 - 5 - 280, 500 + (24 - 400) / 2));
    // No strip reserved (an autohiding panel): the nearest screen edge decides.
    EXPECT_EQ(PanelPlacement::trayEdge(bottomIcon, screen, screen), PanelPlacement::Edge::bottom);
}

TEST(PanelPlacement, KeepsThePanelInsideTheAvailableArea) {
    const QRect available(0, 32, 1920, 1048);
    // An icon in the top right corner: the panel moves left until its right edge meets the screen's.
    EXPECT_EQ(PanelPlacement::panelPosition(QRect(1900, 5, 20, 22), kPanelSize, screen, available),
              QPoint(1920 - 280, 32));
    EXPECT_EQ(PanelPlacement::panelPosition(QRect(0, 5, 20, 22), kPanelSize, screen, available),
              QPoint(0, 32));
    // The pointer stands in for an icon without geometry.
    EXPECT_EQ(PanelPlacement::panelPosition(QRect(QPoint(1000, 10), QSize(1, 1)), kPanelSize,
                                            screen, available),
              QPoint(1000 + (1 - 280) / 2, 32));
    // A panel taller than the area starts at its top.
    EXPECT_EQ(PanelPlacement::clamp(QPoint(10, -50), QSize(280, 2000), available), QPoint(10, 32));
}

TEST(PanelPlacement, PutsAPopoverBesideThePanelOnTheSideWithRoom) {
    const QRect available(0, 32, 1920, 1048);
    const QSize popover(270, 300);
    const QRect row(1000, 300, 270, 27);
    EXPECT_EQ(PanelPlacement::popoverPosition(QRect(995, 40, 280, 400), row, popover, available),
              QPoint(995 + 280 + 5, 300));
    EXPECT_EQ(PanelPlacement::popoverPosition(QRect(1640, 40, 280, 400), QRect(1645, 900, 270, 27), popover,
                                              available),
              QPoint(1640 - 5 - 270, 1080 - 300));
}

}  // namespace
}  // namespace tw
