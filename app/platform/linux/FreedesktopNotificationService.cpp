#include "app/platform/linux/FreedesktopNotificationService.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "base/Bundle.h"

namespace tw {

namespace {

const QString kNotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kNotificationsInterface = QStringLiteral("org.freedesktop.Notifications");

}  // namespace

FreedesktopNotificationService::FreedesktopNotificationService(QDBusConnection bus,
                                                               QString desktopEntry)
    : bus_(std::move(bus)), desktopEntry_(std::move(desktopEntry)) {}

const std::shared_ptr<FreedesktopNotificationService>& FreedesktopNotificationService::shared() {
    static auto* service = new std::shared_ptr<FreedesktopNotificationService>(
        std::make_shared<FreedesktopNotificationService>(
            QDBusConnection::sessionBus(),
            QString::fromStdString(
                Bundle::main().bundleIdentifier().value_or("com.tarnwick.desktop"))));
    return *service;
}

void FreedesktopNotificationService::authorizationStatus(StatusAnswer answer) { answer(true); }

void FreedesktopNotificationService::requestAuthorization(AuthorizationAnswer answer) {
    answer(true);
}

void FreedesktopNotificationService::add(Request request) {
    if (capabilities_ == Capabilities::known) return send(request);
    waiting_.push_back(std::move(request));
    if (capabilities_ == Capabilities::unknown) askCapabilities();
}

void FreedesktopNotificationService::askCapabilities() {
    capabilities_ = Capabilities::asking;
    const auto call = QDBusMessage::createMethodCall(kNotificationsService, kNotificationsPath,
                                                     kNotificationsInterface, "GetCapabilities");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), &context_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        // Without an answer, ask again next time: the server may not have been running yet.
        capabilities_ = reply.isValid() ? Capabilities::known : Capabilities::unknown;
        bodyMarkup_ = reply.isValid() && reply.value().contains("body-markup");
        for (const auto& request : std::exchange(waiting_, {})) send(request);
    });
}

void FreedesktopNotificationService::send(const Request& request) const {
    const auto body = QString::fromStdString(request.body);
    QVariantMap hints;
    hints.insert("desktop-entry", desktopEntry_);
    hints.insert("x-tarnwick-identifier", QString::fromStdString(request.identifier));
    auto call = QDBusMessage::createMethodCall(kNotificationsService, kNotificationsPath,
                                               kNotificationsInterface, "Notify");
    // The signature is susssasa{sv}i: replaces_id must go as a uint, expire_timeout as an int.
    call << QString(kApplicationName) << quint32{0} << QString()
         << QString::fromStdString(request.title) << (bodyMarkup_ ? body.toHtmlEscaped() : body)
         << QStringList() << hints << qint32{-1};
    bus_.asyncCall(call);
}

}  // namespace tw
