#include "app/ui/StatusIconFactory.h"

#include <algorithm>

#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace tw {
namespace {

constexpr int sizes[] = {16, 22, 24, 32, 48};

}  // namespace

// Only the package installs the icon, into hicolor. Where no search path holds it the theme is not
// asked: its first lookup reads the themes' indexes and caches, several milliseconds of start-up
// spent before the icon reaches the tray.
QIcon StatusIconFactory::themed() {
    const QString name = QString::fromLatin1(themeName);
    const QString file = "/hicolor/symbolic/apps/" + name + ".svg";
    const QStringList folders = QIcon::themeSearchPaths();
    const bool installed = std::ranges::any_of(folders, [&](const QString& folder) {
        return QFileInfo::exists(folder + file);
    });
    return installed ? QIcon::fromTheme(name) : QIcon();
}

QIcon StatusIconFactory::fromAsset(const std::filesystem::path& svg, const QColor& color) {
    QSvgRenderer renderer(QString::fromStdString(svg.string()));
    if (!renderer.isValid()) return {};
    QIcon icon;
    for (const int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        // Keep the shape, replace its colour: a template image in the colour of the bar's text.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon StatusIconFactory::text(const QColor& color) {
    QIcon icon;
    for (const int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(size * 9 / 16);
        painter.setFont(font);
        painter.setPen(color);
        painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("TW"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace tw
