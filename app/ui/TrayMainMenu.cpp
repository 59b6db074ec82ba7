#include "app/ui/TrayMainMenu.h"

#include <QAction>
#include <QMessageBox>

namespace tw {

namespace {
constexpr const char* kQuitTitle = "Quit Tarnwick";
}

TrayMainMenu::TrayMainMenu(TrayStatusItem& statusItem, QString aboutText)
    : statusItem_(statusItem), aboutText_(std::move(aboutText)) {}

void TrayMainMenu::install(std::vector<Item> items) {
    auto menu = std::make_unique<QMenu>();
    for (auto& item : items) {
        if (item.title.empty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromStdString(item.title));
        QObject::connect(action, &QAction::triggered, [run = std::move(item.action)] {
            if (run) run();
        });
        if (item.title == kQuitTitle && statusItem_.panel()) {
            action->setShortcut(QKeySequence::Quit);
            action->setShortcutContext(Qt::WindowShortcut);
            statusItem_.panel()->addAction(action);
        }
    }
    if (statusItem_.trayIcon()) statusItem_.trayIcon()->setContextMenu(menu.get());
    // The old menu goes only after the icon has let go of it.
    menu_ = std::move(menu);
}

void TrayMainMenu::showAboutPanel() { QMessageBox::about(nullptr, QStringLiteral("About Tarnwick"), aboutText_); }

}  // namespace tw
