#include "app/ui/ApplicationAccessible.h"

#include <QApplication>
#include <QWidget>

namespace tw {
namespace {

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (object == qApp && className == QStringLiteral("QApplication")) return new ApplicationAccessible;
    return nullptr;
}

}  // namespace

void ApplicationAccessible::install() { QAccessible::installFactory(factory); }

QList<QAccessibleInterface*> ApplicationAccessible::popups() const {
    QList<QAccessibleInterface*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowType() == Qt::Popup) {
            if (QAccessibleInterface* popup = QAccessible::queryAccessibleInterface(widget)) found.append(popup);
        }
    }
    return found;
}

int ApplicationAccessible::childCount() const {
    return QAccessibleApplication::childCount() + static_cast<int>(popups().size());
}

QAccessibleInterface* ApplicationAccessible::child(int index) const {
    const int windows = QAccessibleApplication::childCount();
    if (index < windows) return QAccessibleApplication::child(index);
    const auto found = popups();
    return index - windows < found.size() ? found.at(index - windows) : nullptr;
}

int ApplicationAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (const int index = QAccessibleApplication::indexOfChild(child); index >= 0) return index;
    const int position = static_cast<int>(popups().indexOf(child));
    return position < 0 ? -1 : QAccessibleApplication::childCount() + position;
}

}  // namespace tw
