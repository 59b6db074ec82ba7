#include "packettunnel/VpnPluginAdaptor.h"

#include "packettunnel/PacketTunnelPlugin.h"

namespace tw {

VpnPluginAdaptor::VpnPluginAdaptor(PacketTunnelPlugin* plugin)
    : QDBusAbstractAdaptor(plugin), plugin_(plugin) {}

uint VpnPluginAdaptor::state() const { return static_cast<uint>(plugin_->state()); }

void VpnPluginAdaptor::Connect(const QMap<QString, QVariantMap>& connection, const QDBusMessage& message) {
    plugin_->connectTunnel(connection, message);
}

void VpnPluginAdaptor::ConnectInteractive(const QMap<QString, QVariantMap>& connection, const QVariantMap&,
                                          const QDBusMessage& message) {
    // The tunnel needs no secrets, so there is nothing to ask interactively.
    plugin_->connectTunnel(connection, message);
}

QString VpnPluginAdaptor::NeedSecrets(const QMap<QString, QVariantMap>&) { return {}; }

void VpnPluginAdaptor::Disconnect() { plugin_->disconnectTunnel(); }

// The provider's settings are its own: nobody else feeds configuration or failures to it.
void VpnPluginAdaptor::SetConfig(const QVariantMap&, const QDBusMessage& message) {
    plugin_->refuse(message);
}

void VpnPluginAdaptor::SetIp4Config(const QVariantMap&, const QDBusMessage& message) {
    plugin_->refuse(message);
}

void VpnPluginAdaptor::SetIp6Config(const QVariantMap&, const QDBusMessage& message) {
    plugin_->refuse(message);
}

void VpnPluginAdaptor::SetFailure(const QString&, const QDBusMessage& message) {
    plugin_->refuse(message);
}

void VpnPluginAdaptor::NewSecrets(const QMap<QString, QVariantMap>&) {}

}  // namespace tw
