#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "packettunnel/TunnelError.h"

namespace tw {

// Follows, on NetworkManager's side, the VPN connection this plugin is bringing up: finds it among
// NetworkManager's active connections by its UUID, then reports NetworkManager's verdict on the
// settings the plugin sent — in force once the connection is activated, refused when it fails or
// disconnects first. Remembers the reason of the connection's last state change, which is the
// reason NetworkManager stops the tunnel for.
class ActivationWatcher final : public QObject {
    Q_OBJECT

public:
    using Verdict = std::function<void(std::optional<TunnelError>)>;

    explicit ActivationWatcher(QDBusConnection bus, QObject* parent = nullptr);

    // Looks for the active connection of `uuid`; `found` runs once it is known (the caller sends
    // its settings then, so that no state change of interest is missed), then `verdict` once.
    // When there is no such connection, `verdict` gets the error at once. Replaces an earlier
    // watch, whose verdict is dropped.
    void watch(const QString& uuid, std::function<void()> found, Verdict verdict);
    // Ends the watch; a verdict still owed gets `why`.
    void cancel(const TunnelError& why);

    // NetworkManager's reason code for the last state change of the watched connection; 0 when
    // there has been none.
    std::int64_t lastReason() const { return lastReason_; }

private slots:
    void vpnStateChanged(uint state, uint reason, const QDBusMessage& message);

private:
    void search(std::uint64_t generation);
    void searchNext(std::uint64_t generation, QList<QDBusObjectPath> candidates);
    void settle(std::optional<TunnelError> outcome);
    static std::string reasonText(uint reason);

    QDBusConnection bus_;
    std::uint64_t generation_ = 0;
    QString uuid_;
    QString path_;
    std::function<void()> found_;
    Verdict verdict_;
    std::int64_t lastReason_ = 0;
};

}  // namespace tw
