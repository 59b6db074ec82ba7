#include "app/ui/TrayStatusItem.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>

#include "app/menu/MenuContentBuilder.h"
#include "app/ui/preview/PreviewState.h"
#include "tests/support/FakeMenuPanelModel.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

struct Notification {
    std::string title;
    std::string body;
};

// Offscreen there is no tray host at all: the state most GNOME users meet.
TEST(TrayStatusItem, WithoutATrayHostShowsTheWindowAndTellsTheUserOnce) {
    TestLogger logger;
    auto model = std::make_shared<FakeMenuPanelModel>();
    const PreviewState connected = PreviewState::named("connected");
    model->setPanel(MenuContentBuilder::build(connected.inputs, connected.view));
    std::vector<Notification> notifications;
    TrayStatusItem item(model, logger.logger(), "/nonexistent/menu_icon.svg",
                        [&](const std::string& title, const std::string& body) {
                            notifications.push_back({title, body});
                        });
    item.setupMenuBar();
    QApplication::processEvents();
    ASSERT_TRUE(item.panel()->isVisible());
    EXPECT_EQ(item.panel()->presentation(), RoundedPopup::Presentation::window);
    item.togglePopover();
    EXPECT_FALSE(item.panel()->isVisible());
    item.showWindow();
    EXPECT_TRUE(item.panel()->isVisible());
    EXPECT_EQ(notifications.size(), 1u);
    EXPECT_EQ(item.trayIcon()->toolTip(), QStringLiteral("Tarnwick — Connected"));

    // The asset is missing: the icon is the text, and every update says so.
    EXPECT_FALSE(item.trayIcon()->icon().isNull());
    EXPECT_TRUE(logger.waitFor("[App] Menu bar icon asset not found: menu_icon", 2));
    EXPECT_EQ(logger.count("[App] Menu bar icon asset not found: menu_icon"), 2u);
    EXPECT_EQ(logger.count("[App] Setting up Menu Bar..."), 1u);
}

}  // namespace
}  // namespace tw
