#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QVariantMap>

namespace tw {

class PacketTunnelPlugin;

// org.freedesktop.NetworkManager.VPN.Plugin on the plugin's object: NetworkManager's calls go to
// the plugin, the plugin's reports go out as this interface's signals.
class VpnPluginAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.VPN.Plugin")
    Q_CLASSINFO("D-Bus Introspection",
        "  <interface name=\"org.freedesktop.NetworkManager.VPN.Plugin\">"
        "    <method name=\"Connect\"><arg name=\"connection\" type=\"a{sa{sv}}\" direction=\"in\"/></method>"
        "    <method name=\"ConnectInteractive\">"
        "      <arg name=\"connection\" type=\"a{sa{sv}}\" direction=\"in\"/>"
        "      <arg name=\"details\" type=\"a{sv}\" direction=\"in\"/>"
        "    </method>"
        "    <method name=\"NeedSecrets\">"
        "      <arg name=\"settings\" type=\"a{sa{sv}}\" direction=\"in\"/>"
        "      <arg name=\"setting_name\" type=\"s\" direction=\"out\"/>"
        "    </method>"
        "    <method name=\"Disconnect\"/>"
        "    <method name=\"SetConfig\"><arg name=\"config\" type=\"a{sv}\" direction=\"in\"/></method>"
        "    <method name=\"SetIp4Config\"><arg name=\"config\" type=\"a{sv}\" direction=\"in\"/></method>"
        "    <method name=\"SetIp6Config\"><arg name=\"config\" type=\"a{sv}\" direction=\"in\"/></method>"
        "    <method name=\"SetFailure\"><arg name=\"reason\" type=\"s\" direction=\"in\"/></method>"
        "    <method name=\"NewSecrets\"><arg name=\"connection\" type=\"a{sa{sv}}\" direction=\"in\"/></method>"
        "    <property name=\"State\" type=\"u\" access=\"read\"/>"
        "    <signal name=\"StateChanged\"><arg name=\"state\" type=\"u\"/></signal>"
        "    <signal name=\"Config\"><arg name=\"config\" type=\"a{sv}\"/></signal>"
        "    <signal name=\"Ip4Config\"><arg name=\"ip4config\" type=\"a{sv}\"/></signal>"
        "    <signal name=\"Ip6Config\"><arg name=\"ip6config\" type=\"a{sv}\"/></signal>"
        "    <signal name=\"Failure\"><arg name=\"reason\" type=\"u\"/></signal>"
        "    <signal name=\"SecretsRequired\">"
        "      <arg name=\"message\" type=\"s\"/>"
        "      <arg name=\"secrets\" type=\"as\"/>"
        "    </signal>"
        "    <signal name=\"LoginBanner\"><arg name=\"banner\" type=\"s\"/></signal>"
        "  </interface>")
    Q_PROPERTY(uint State READ state)

public:
    explicit VpnPluginAdaptor(PacketTunnelPlugin* plugin);
    VpnPluginAdaptor(const VpnPluginAdaptor&) = delete;
    VpnPluginAdaptor& operator=(const VpnPluginAdaptor&) = delete;

    uint state() const;

public slots:
    // The settings are spelt out: QtDBus finds a slot's argument types by their names, which a
    // type alias does not have.
    void Connect(const QMap<QString, QVariantMap>& connection, const QDBusMessage& message);
    void ConnectInteractive(const QMap<QString, QVariantMap>& connection, const QVariantMap& details,
                            const QDBusMessage& message);
    QString NeedSecrets(const QMap<QString, QVariantMap>& settings);
    void Disconnect();
    void SetConfig(const QVariantMap& config, const QDBusMessage& message);
    void SetIp4Config(const QVariantMap& config, const QDBusMessage& message);
    void SetIp6Config(const QVariantMap& config, const QDBusMessage& message);
    void SetFailure(const QString& reason, const QDBusMessage& message);
    void NewSecrets(const QMap<QString, QVariantMap>& connection);

signals:
    void StateChanged(uint state);
    void Config(const QVariantMap& config);
    void Ip4Config(const QVariantMap& ip4config);

private:
    PacketTunnelPlugin* const plugin_;
};

}  // namespace tw
