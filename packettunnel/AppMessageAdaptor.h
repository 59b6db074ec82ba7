#pragma once

#include <QByteArray>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>

namespace tw {

class PacketTunnelPlugin;

// com.tarnwick.desktop.PacketTunnel on the plugin's object: the application's messages to the
// provider. A call sent without expecting a reply is a message without a completion.
class AppMessageAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tarnwick.desktop.PacketTunnel")
    Q_CLASSINFO("D-Bus Introspection",
        "  <interface name=\"com.tarnwick.desktop.PacketTunnel\">"
        "    <method name=\"HandleAppMessage\">"
        "      <arg name=\"message\" type=\"ay\" direction=\"in\"/>"
        "      <arg name=\"response\" type=\"ay\" direction=\"out\"/>"
        "    </method>"
        "  </interface>")

public:
    explicit AppMessageAdaptor(PacketTunnelPlugin* plugin);
    AppMessageAdaptor(const AppMessageAdaptor&) = delete;
    AppMessageAdaptor& operator=(const AppMessageAdaptor&) = delete;

public slots:
    void HandleAppMessage(const QByteArray& bytes, const QDBusMessage& message);

private:
    PacketTunnelPlugin* const plugin_;
};

}  // namespace tw
