#include "tests/platform/FakeNotificationServer.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QUuid>
#include <stdexcept>

namespace tw {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

FakeNotificationServer::FakeNotificationServer(const QString& busAddress, QStringList capabilities)
    : connectionName_("fake-notification-server-" + QUuid::createUuid().toString()),
      connection_(QDBusConnection::connectToBus(busAddress, connectionName_)),
      capabilities_(std::move(capabilities)) {
    if (!connection_.isConnected() || !connection_.registerService(kService) ||
        !connection_.registerVirtualObject(kPath, this)) {
        throw std::runtime_error("the fake notification server cannot serve on the test bus");
    }
}

FakeNotificationServer::~FakeNotificationServer() {
    connection_.unregisterObject(kPath);
    connection_.unregisterService(kService);
    QDBusConnection::disconnectFromBus(connectionName_);
}

bool FakeNotificationServer::handleMessage(const QDBusMessage& message,
                                           const QDBusConnection& connection) {
    if (message.interface() != kService) return false;
    if (message.member() == "Notify") return connection.send(notify(message));
    if (message.member() == "GetCapabilities") return connection.send(answerCapabilities(message));
    return false;
}

QDBusMessage FakeNotificationServer::notify(const QDBusMessage& message) {
    if (message.signature() != "susssasa{sv}i") {
        ++refusedCalls_;
        return message.createErrorReply(QDBusError::InvalidArgs,
                                        "Notify takes susssasa{sv}i, not " + message.signature());
    }
    const auto a = message.arguments();
    notifications_.push_back({a[0].toString(), a[1].toUInt(), a[2].toString(), a[3].toString(),
                              a[4].toString(), qdbus_cast<QStringList>(a[5]),
                              qdbus_cast<QVariantMap>(a[6]), a[7].toInt()});
    return message.createReply(QVariant::fromValue(quint32(notifications_.size())));
}

QDBusMessage FakeNotificationServer::answerCapabilities(const QDBusMessage& message) {
    ++capabilityQuestions_;
    if (failCapabilities_) return message.createErrorReply(QDBusError::Failed, "not now");
    return message.createReply(QVariant::fromValue(capabilities_));
}

QString FakeNotificationServer::introspect(const QString&) const { return {}; }

}  // namespace tw
