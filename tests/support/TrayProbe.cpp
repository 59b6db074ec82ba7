// tw_tray_probe: the smallest tray application, for the desktop sandbox's own test. A click on its
// icon shows a frameless popup panel (as the real panel is) with a label and a button; pressing
// the button prints "pressed" and closes the panel. It says on standard output when its icon is
// in a tray and when the panel shows, so that a test can wait for each.

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

QIcon probeIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2e, 0x8b, 0x57));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2, 2, 28, 28);
    return QIcon(pixmap);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);

    QWidget panel(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    auto* layout = new QVBoxLayout(&panel);
    layout->addWidget(new QLabel("Probe panel"));
    auto* button = new QPushButton("Press me");
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, [&panel] {
        say("pressed");
        panel.hide();
    });

    QSystemTrayIcon tray(probeIcon());
    QObject::connect(&tray, &QSystemTrayIcon::activated, [&](auto why) {
        if (why != QSystemTrayIcon::Trigger) return;
        const QRect icon = tray.geometry();
        panel.adjustSize();
        panel.move(icon.x() + (icon.width() - panel.width()) / 2, icon.y() - panel.height() - 5);
        panel.show();
        say("panel shown");
    });
    tray.show();
    // The host embeds the icon asynchronously; say so once it has.
    QTimer embedded;
    QObject::connect(&embedded, &QTimer::timeout, [&] {
        if (!QSystemTrayIcon::isSystemTrayAvailable() || tray.geometry().isEmpty()) return;
        embedded.stop();
        say("in tray");
    });
    embedded.start(20);
    return application.exec();
}
