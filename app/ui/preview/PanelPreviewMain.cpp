// Renders the panel offscreen in every state a user can meet, in light and dark, into PNG files,
// and prints their paths. Used by scripts/screenshots. With "--tray STATE" it runs the tray icon
// and its panel in that state instead, printing each activated row (the tray's interface test).
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "app/ui/PanelWindow.h"
#include "app/ui/TrayStatusItem.h"
#include "base/Bundle.h"
#include "app/ui/preview/PreviewPanelModel.h"
#include "app/ui/preview/PreviewState.h"

namespace {

using tw::PanelTheme;
using tw::PanelWindow;
using tw::PreviewState;

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(45, 45, 48));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    palette.setColor(QPalette::Button, QColor(60, 60, 64));
    palette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    return palette;
}

// The visible windows drawn where they are on screen, over a plain desktop, so that the panel's
// rounded corners and a popover's place beside its row show.
QImage compose(const std::vector<QWidget*>& windows, bool dark) {
    QRect bounds;
    for (QWidget* window : windows) bounds |= window->frameGeometry();
    constexpr int margin = 24;
    QImage image(bounds.size() + QSize(2 * margin, 2 * margin), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    QLinearGradient desktop(0, 0, 0, image.height());
    desktop.setColorAt(0, dark ? QColor(28, 31, 38) : QColor(214, 222, 232));
    desktop.setColorAt(1, dark ? QColor(44, 40, 52) : QColor(236, 230, 240));
    painter.fillRect(image.rect(), desktop);
    for (QWidget* window : windows) {
        painter.drawPixmap(window->geometry().topLeft() - bounds.topLeft() + QPoint(margin, margin),
                           window->grab());
    }
    return image;
}

std::vector<QWidget*> visibleWindows(PanelWindow& panel) {
    std::vector<QWidget*> windows{&panel};
    if (panel.morePopover().isVisible()) windows.push_back(&panel.morePopover());
    if (panel.switchAccountPopover().isVisible()) windows.push_back(&panel.switchAccountPopover());
    return windows;
}

QImage render(const PreviewState& state, bool dark) {
    QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
    auto model = std::make_shared<tw::PreviewPanelModel>(state.inputs, state.view);
    PanelWindow panel(model);
    panel.setTheme(PanelTheme::make(dark, QApplication::font()));
    QImage image;
    switch (state.shows) {
    case PreviewState::Shows::panel:
        // An icon in a top bar near the middle of the screen.
        panel.showAt(QRect(300, 0, 22, 22));
        QApplication::processEvents();
        image = compose(visibleWindows(panel), dark);
        break;
    case PreviewState::Shows::uninstallConfirmation:
        QApplication::processEvents();
        image = panel.uninstallConfirmation()->grab().toImage();
        break;
    case PreviewState::Shows::windowWithoutTray:
        panel.showAsWindow();
        QApplication::processEvents();
        image = panel.grab().toImage();
        break;
    }
    panel.hide();
    if (auto* confirmation = panel.uninstallConfirmation()) confirmation->withdraw();
    QApplication::processEvents();
    return image;
}

int runTray(const std::string& name) {
    const PreviewState state = PreviewState::named(name);
    auto model = std::make_shared<tw::PreviewPanelModel>(state.inputs, state.view);
    auto logger = std::make_shared<tw::AppLogger>("/dev/null", [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    tw::TrayStatusItem item(model, logger, tw::Bundle::locateRoot() / "Resources" / "menu_icon.svg",
                            [](const std::string& title, const std::string&) {
                                std::printf("notification: %s\n", title.c_str());
                                std::fflush(stdout);
                            });
    item.setupMenuBar();
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font = QApplication::font();
    font.setPointSizeF(10);
    QApplication::setFont(font);
    if (argc > 2 && std::string(argv[1]) == "--tray") return runTray(argv[2]);
    const std::filesystem::path folder = argc > 1 ? argv[1] : "build/screenshots";
    std::filesystem::create_directories(folder);
    int failures = 0;
    for (const PreviewState& state : PreviewState::all()) {
        for (const bool dark : {false, true}) {
            const std::filesystem::path file = folder / (state.name + (dark ? "-dark.png" : "-light.png"));
            if (render(state, dark).save(QString::fromStdString(file.string()))) {
                std::printf("%s\n", file.c_str());
            } else {
                std::fprintf(stderr, "could not write %s\n", file.c_str());
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
