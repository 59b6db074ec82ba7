#include "app/ui/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tw {

void QtClipboard::setText(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

}  // namespace tw
