#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <functional>

namespace tw {

// org.freedesktop.Application on the object that `parent` exports: how desktops and a second
// launch hand the running application a URL or bring it to the front.
class FreedesktopApplicationAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    struct Handlers {
        std::function<void()> activate;
        std::function<void(const QStringList& uris)> open;
    };

    FreedesktopApplicationAdaptor(QObject* parent, Handlers handlers);

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    // The application has no actions: an action is only a way of activating it.
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    Handlers handlers_;
};

}  // namespace tw
