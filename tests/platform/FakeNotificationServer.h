#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>
#include <vector>

namespace tw {

// A notification server for tests of the client, on a connection of its own to the test's bus
// (so that calls really cross the bus). It owns org.freedesktop.Notifications and is strict where
// a lax double would hide a fault: Notify is answered only when the call's signature is exactly
// susssasa{sv}i (a replaces_id sent as an int is refused with InvalidArgs, as real servers
// refuse it). GetCapabilities answers the capabilities given, or an error when told to fail.
class FakeNotificationServer final : public QDBusVirtualObject {
  public:
    struct Notification {
        QString appName;
        quint32 replacesId;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        qint32 expireTimeout;
    };

    FakeNotificationServer(const QString& busAddress, QStringList capabilities);
    ~FakeNotificationServer() override;

    void failCapabilityQuestions(bool fail) { failCapabilities_ = fail; }

    const std::vector<Notification>& notifications() const { return notifications_; }
    int capabilityQuestions() const { return capabilityQuestions_; }
    int refusedCalls() const { return refusedCalls_; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    QString introspect(const QString& path) const override;

  private:
    QDBusMessage notify(const QDBusMessage& message);
    QDBusMessage answerCapabilities(const QDBusMessage& message);

    const QString connectionName_;
    QDBusConnection connection_;
    const QStringList capabilities_;
    bool failCapabilities_ = false;
    std::vector<Notification> notifications_;
    int capabilityQuestions_ = 0;
    int refusedCalls_ = 0;
};

}  // namespace tw
