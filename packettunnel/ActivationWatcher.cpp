#include "packettunnel/ActivationWatcher.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace tw {

namespace {

const QString kService = "org.freedesktop.NetworkManager";
const QString kManagerPath = "/org/freedesktop/NetworkManager";
const QString kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
const QString kVpnInterface = "org.freedesktop.NetworkManager.VPN.Connection";

// NMVpnConnectionState values of the verdict.
constexpr uint kActivated = 5;
constexpr uint kFailed = 6;
constexpr uint kDisconnected = 7;

QDBusPendingCall getProperty(const QDBusConnection& bus, const QString& path,
                             const QString& interface, const QString& name) {
    auto call = QDBusMessage::createMethodCall(kService, path, "org.freedesktop.DBus.Properties",
                                               "Get");
    call << interface << name;
    return bus.asyncCall(call);
}

// Runs `handle` with the reply's value when it arrives, if `context` still exists.
void onReply(QObject* context, const QDBusPendingCall& call,
             std::function<void(const QDBusPendingReply<QDBusVariant>&)> handle) {
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, handle = std::move(handle)] {
                         watcher->deleteLater();
                         handle(*watcher);
                     });
}

}  // namespace

ActivationWatcher::ActivationWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    // Any path: the connection's path is known only once the search has found it.
    bus_.connect(kService, "", kVpnInterface, "VpnStateChanged", this,
                 SLOT(vpnStateChanged(uint, uint, QDBusMessage)));
}

void ActivationWatcher::watch(const QString& uuid, std::function<void()> found, Verdict verdict) {
    ++generation_;
    uuid_ = uuid;
    path_.clear();
    found_ = std::move(found);
    verdict_ = std::move(verdict);
    lastReason_ = 0;
    search(generation_);
}

void ActivationWatcher::search(std::uint64_t generation) {
    onReply(this, getProperty(bus_, kManagerPath, "org.freedesktop.NetworkManager", "ActiveConnections"),
            [this, generation](const QDBusPendingReply<QDBusVariant>& reply) {
                if (generation != generation_) return;
                QList<QDBusObjectPath> paths;
                if (reply.isValid()) {
                    qvariant_cast<QDBusArgument>(reply.value().variant()) >> paths;
                }
                searchNext(generation, paths);
            });
}

void ActivationWatcher::searchNext(std::uint64_t generation, QList<QDBusObjectPath> candidates) {
    if (candidates.isEmpty()) {
        settle(TunnelError{"NetworkManager has no active connection " + uuid_.toStdString()});
        return;
    }
    const auto path = candidates.takeFirst().path();
    onReply(this, getProperty(bus_, path, kActiveInterface, "Uuid"),
            [this, generation, path, candidates](const QDBusPendingReply<QDBusVariant>& reply) {
                if (generation != generation_) return;
                if (!reply.isValid() || reply.value().variant().toString() != uuid_) {
                    searchNext(generation, candidates);
                    return;
                }
                path_ = path;
                if (auto found = std::exchange(found_, nullptr)) found();
            });
}

void ActivationWatcher::vpnStateChanged(uint state, uint reason, const QDBusMessage& message) {
    if (path_.isEmpty() || message.path() != path_) return;
    lastReason_ = reason;
    if (state == kActivated) {
        settle(std::nullopt);
    } else if (state == kFailed || state == kDisconnected) {
        settle(TunnelError{reasonText(reason)});
    }
}

void ActivationWatcher::cancel(const TunnelError& why) {
    ++generation_;
    found_ = nullptr;
    settle(why);
}

void ActivationWatcher::settle(std::optional<TunnelError> outcome) {
    if (auto verdict = std::exchange(verdict_, nullptr)) verdict(std::move(outcome));
}

std::string ActivationWatcher::reasonText(uint reason) {
    // NMActiveConnectionStateReason, as far as it concerns a plugin's settings.
    switch (reason) {
        case 4: return "NetworkManager stopped the VPN service (reason 4)";
        case 5: return "IP config invalid (reason 5)";
        case 6: return "connect timeout (reason 6)";
        case 11: return "the connection was removed (reason 11)";
        default: return "the VPN connection ended before it was up (reason " + std::to_string(reason) + ")";
    }
}

}  // namespace tw
