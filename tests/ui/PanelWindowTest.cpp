#include "app/ui/PanelWindow.h"

#include <algorithm>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFontDatabase>
#include <QTest>

#include "app/menu/MenuContentBuilder.h"
#include "app/ui/ApplicationAccessible.h"
#include "app/ui/MenuInfoLabel.h"
#include "app/ui/preview/PreviewPanelModel.h"
#include "app/ui/preview/PreviewState.h"
#include "tests/support/FakeMenuPanelModel.h"

namespace tw {
namespace {

using Activation = FakeMenuPanelModel::Activation;

class PanelWindowTest : public ::testing::Test {
protected:
    void open(const std::string& state) {
        const PreviewState preview = PreviewState::named(state);
        ASSERT_EQ(preview.name, state);
        model_->setPanel(MenuContentBuilder::build(preview.inputs, preview.view));
        panel_ = std::make_unique<PanelWindow>(model_);
        panel_->showAt(QRect(150, 0, 22, 22));
        QApplication::processEvents();
    }

    MenuRowButton& button(MenuRowId id, MenuRowList* list = nullptr) {
        MenuRowButton* found = (list ? list : &panel_->rows())->buttonFor(id);
        EXPECT_NE(found, nullptr);
        return *found;
    }

    std::shared_ptr<FakeMenuPanelModel> model_ = std::make_shared<FakeMenuPanelModel>();
    std::unique_ptr<PanelWindow> panel_;
};

TEST_F(PanelWindowTest, RendersEveryStateWithOneWidgetPerRow) {
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::Japanese).isEmpty())
        << "no Japanese font: the extension's guide texts would render as boxes (scripts/deps installs one)";
    for (const PreviewState& state : PreviewState::all()) {
        if (state.shows != PreviewState::Shows::panel) continue;
        SCOPED_TRACE(state.name);
        auto model = std::make_shared<PreviewPanelModel>(state.inputs, state.view);
        PanelWindow panel(model);
        panel.showAt(QRect(500, 0, 22, 22));
        QApplication::processEvents();
        EXPECT_EQ(panel.width(), PanelWindow::panelWidth);
        EXPECT_FALSE(panel.grab().isNull());
        for (const MenuRow& row : model->panel().rows) {
            if (row.kind != MenuRowKind::divider) {
                EXPECT_NE(panel.rows().widgetFor(row.id, row.profileId), nullptr);
            }
        }
        // Every row is inside the panel: nothing cut off at the bottom.
        const QWidget* last = panel.rows().widgetFor(model->panel().rows.back().id);
        EXPECT_LE(last->mapTo(&panel, QPoint(0, last->height())).y(), panel.height());
        EXPECT_EQ(panel.morePopover().isVisible(), model->panel().isMorePopoverPresented);
        EXPECT_EQ(panel.switchAccountPopover().isVisible(), model->panel().isSwitchAccountPopoverPresented);
    }
}

TEST_F(PanelWindowTest, AnOpenPanelWhoseRowsChangeFitsItsNewRows) {
    open("connected");
    // Logging out while the panel is open rebuilds its rows; the panel must fit the new ones at
    // once, not collapse while the layout has yet to show them.
    const PreviewState loggedOut = PreviewState::named("logged-out");
    model_->setPanel(MenuContentBuilder::build(loggedOut.inputs, loggedOut.view));
    const QWidget* last = panel_->rows().widgetFor(model_->panel().rows.back().id);
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->isVisible());
    EXPECT_GE(panel_->height(), last->mapTo(panel_.get(), QPoint(0, last->height())).y());
}

// Records what of a widget is repainted.
class PaintedArea : public QObject {
public:
    explicit PaintedArea(QWidget& widget) { widget.installEventFilter(this); }
    QRegion region;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) region += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

TEST_F(PanelWindowTest, AStatusChangeRepaintsItsDotBesideTheText) {
    open("connected");
    QWidget* status = panel_->rows().widgetFor(MenuRowId::status);
    ASSERT_NE(qobject_cast<MenuInfoLabel*>(status), nullptr);
    PaintedArea painted(*status);
    const PreviewState disconnected = PreviewState::named("disconnected");
    model_->setPanel(MenuContentBuilder::build(disconnected.inputs, disconnected.view));
    ASSERT_EQ(panel_->rows().widgetFor(MenuRowId::status), status);
    QApplication::processEvents();
    // The dot sits in the label's margin, left of its text.
    EXPECT_TRUE(painted.region.contains(QRect(0, 0, status->contentsRect().left(), status->height())));
}

TEST_F(PanelWindowTest, HoveringHighlightsTheRowAndLeavingClearsIt) {
    open("connected");
    MenuRowButton& disconnect = button(MenuRowId::connect);
    const QPoint emptyArea(disconnect.width() - 30, disconnect.height() / 2);
    const QColor before = disconnect.grab().toImage().pixelColor(emptyArea);

    QEnterEvent enter{QPointF(emptyArea), QPointF(emptyArea), QPointF(disconnect.mapToGlobal(emptyArea))};
    QApplication::sendEvent(&disconnect, &enter);
    EXPECT_TRUE(disconnect.row().hovering);
    EXPECT_NE(disconnect.grab().toImage().pixelColor(emptyArea), before);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&disconnect, &leave);
    EXPECT_FALSE(disconnect.row().hovering);
    EXPECT_EQ(disconnect.grab().toImage().pixelColor(emptyArea), before);
}

TEST_F(PanelWindowTest, AClickInARowsEmptyAreaActivatesIt) {
    open("connected");
    MenuRowButton& disconnect = button(MenuRowId::connect);
    QTest::mouseClick(&disconnect, Qt::LeftButton, {}, QPoint(disconnect.width() - 10, disconnect.height() - 3));
    EXPECT_THAT(model_->activations, ::testing::ElementsAre(Activation{MenuRowId::connect, ""}));
}

TEST_F(PanelWindowTest, PopoversOpenBesideTheirRowsAndCloseOnDismiss) {
    open("connected");
    QTest::mouseClick(&button(MenuRowId::more), Qt::LeftButton);
    MenuPopover& more = panel_->morePopover();
    ASSERT_TRUE(more.isVisible());
    EXPECT_GE(more.x(), panel_->x() + panel_->width());
    EXPECT_EQ(more.y(), button(MenuRowId::more).mapToGlobal(QPoint(0, 0)).y());
    // The platform closes it (Escape here, an outside click alike): the model hears of it.
    QTest::keyClick(&more.rows(), Qt::Key_Escape);
    EXPECT_FALSE(more.isVisible());
    EXPECT_EQ(model_->moreDismissals, 1);
    EXPECT_FALSE(model_->panel().isMorePopoverPresented);

    open("logged-out-two-accounts");
    QTest::mouseClick(&button(MenuRowId::switchAccount), Qt::LeftButton);
    MenuPopover& accounts = panel_->switchAccountPopover();
    ASSERT_TRUE(accounts.isVisible());
    // Choosing the other profile reaches the model with its id.
    QTest::mouseClick(accounts.rows().buttonFor(MenuRowId::profile, "b2"), Qt::LeftButton);
    EXPECT_EQ(model_->activations.back(), (Activation{MenuRowId::profile, "b2"}));
    model_->dismissSwitchAccountPopover();
    EXPECT_FALSE(accounts.isVisible());
}

TEST_F(PanelWindowTest, TheKeyboardMovesBetweenRowsPressesThemAndClosesThePanel) {
    open("connected");
    QTest::keyClick(&panel_->rows(), Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), &button(MenuRowId::connect));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), &button(MenuRowId::dns));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_THAT(model_->activations, ::testing::ElementsAre(Activation{MenuRowId::connect, ""}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(panel_->isVisible());
}

TEST_F(PanelWindowTest, RowsAreNamedPushButtonsAndInformationLinesAreLabels) {
    open("connected");
    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(&button(MenuRowId::connect));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->role(), QAccessible::Button);
    EXPECT_EQ(row->text(QAccessible::Name), QStringLiteral("Disconnect"));
    QAccessibleActionInterface* actions = row->actionInterface();
    ASSERT_NE(actions, nullptr);
    EXPECT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(panel_->rows().widgetFor(MenuRowId::status));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->role(), QAccessible::StaticText);
    EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("Connected"));
    // The panel is a popup, which Qt leaves out of the application's children.
    ApplicationAccessible::install();
    QAccessibleInterface* application = QAccessible::queryAccessibleInterface(qApp);
    ASSERT_NE(application, nullptr);
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(panel_.get());
    const int index = application->indexOfChild(panel);
    ASSERT_GE(index, 0);
    EXPECT_EQ(application->child(index), panel);
    // Pressing through accessibility is a click.
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !model_->activations.empty(); }, 2000));
}

TEST_F(PanelWindowTest, TheUninstallConfirmationAnswersTheModelOnce) {
    open("more-popover");
    QTest::mouseClick(panel_->morePopover().rows().buttonFor(MenuRowId::uninstall), Qt::LeftButton);
    QApplication::processEvents();
    UninstallConfirmation* confirmation = panel_->uninstallConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_FALSE(panel_->isVisible());
    EXPECT_EQ(confirmation->text(), QStringLiteral("Uninstall Tarnwick"));
    EXPECT_EQ(confirmation->uninstallButton()->text(), QStringLiteral("Uninstall"));
    QTest::mouseClick(confirmation->uninstallButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_THAT(model_->uninstallAnswers, ::testing::ElementsAre(true));

    open("more-popover");
    QTest::mouseClick(panel_->morePopover().rows().buttonFor(MenuRowId::uninstall), Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_NE(panel_->uninstallConfirmation(), nullptr);
    QTest::keyClick(panel_->uninstallConfirmation(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_THAT(model_->uninstallAnswers, ::testing::ElementsAre(true, false));
}

}  // namespace
}  // namespace tw
