#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "packettunnel/ActivationWatcher.h"
#include "packettunnel/ConnectionSettings.h"
#include "packettunnel/PacketTunnelProvider.h"
#include "packettunnel/PluginState.h"

namespace tw {

class NetworkManagerTunnel;
class ProviderLog;
class VpnPluginAdaptor;

// The NetworkManager VPN service plugin around the packet-tunnel provider: the bus object
// /org/freedesktop/NetworkManager/VPN/Plugin with the plugin interface and the application's
// message interface, and the bus name. NetworkManager's connect starts the provider's tunnel,
// its disconnect stops it; logind's sleep and wake reach the provider too.
//
// After a stop the plugin waits for the next connect, as NetworkManager's own plugins do: a
// plugin that exited at once would race NetworkManager, which hands a quick reconnect to the
// process still owning the name. It is done (finished()) once NetworkManager no longer needs it:
// when NetworkManager leaves the bus, or after kIdleSeconds without a tunnel. With `persist` it
// stays until it is terminated.
class PacketTunnelPlugin final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kObjectPath = "/org/freedesktop/NetworkManager/VPN/Plugin";
    static constexpr const char* kTunnelDevice = "tarnwick0";
    static constexpr int kIdleSeconds = 180;

    // Registers the object, then takes the bus name `busName`.
    PacketTunnelPlugin(QDBusConnection bus, QString busName, std::shared_ptr<ProviderLog> log,
                       bool persist);
    // Removes the device and gives up the name and the object.
    ~PacketTunnelPlugin() override;
    PacketTunnelPlugin(const PacketTunnelPlugin&) = delete;
    PacketTunnelPlugin& operator=(const PacketTunnelPlugin&) = delete;

    // False when the bus name could not be taken.
    bool isServing() const { return serving_; }
    PluginState state() const { return state_; }

    // Calls from the adaptors; `message` is the call, answered here.
    void connectTunnel(const ConnectionSettings& connection, const QDBusMessage& message);
    void disconnectTunnel();
    void refuse(const QDBusMessage& message);
    void handleAppMessage(const QByteArray& bytes, const QDBusMessage& message);

signals:
    void finished();

private slots:
    void prepareForSleep(bool sleeping);

private:
    void setState(PluginState state);
    void didStart(const QDBusMessage& call, const std::shared_ptr<bool>& answered,
                  const std::optional<TunnelError>& error);
    void finishUnlessPersistent();

    QDBusConnection bus_;
    const QString busName_;
    const bool persist_;
    ActivationWatcher watcher_;
    VpnPluginAdaptor* const adaptor_;
    std::shared_ptr<NetworkManagerTunnel> tunnel_;
    std::shared_ptr<PacketTunnelProvider> provider_;
    PluginState state_ = PluginState::init;
    QTimer idle_;
    bool serving_ = false;
};

}  // namespace tw
