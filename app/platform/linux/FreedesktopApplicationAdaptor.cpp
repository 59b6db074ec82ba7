#include "app/platform/linux/FreedesktopApplicationAdaptor.h"

namespace tw {

FreedesktopApplicationAdaptor::FreedesktopApplicationAdaptor(QObject* parent, Handlers handlers)
    : QDBusAbstractAdaptor(parent), handlers_(std::move(handlers)) {}

void FreedesktopApplicationAdaptor::Activate(const QVariantMap&) { handlers_.activate(); }

void FreedesktopApplicationAdaptor::Open(const QStringList& uris, const QVariantMap&) {
    handlers_.open(uris);
}

void FreedesktopApplicationAdaptor::ActivateAction(const QString&, const QVariantList&,
                                                   const QVariantMap&) {
    handlers_.activate();
}

}  // namespace tw
