#include "packettunnel/AppMessageAdaptor.h"

#include "packettunnel/PacketTunnelPlugin.h"

namespace tw {

AppMessageAdaptor::AppMessageAdaptor(PacketTunnelPlugin* plugin)
    : QDBusAbstractAdaptor(plugin), plugin_(plugin) {}

void AppMessageAdaptor::HandleAppMessage(const QByteArray& bytes, const QDBusMessage& message) {
    plugin_->handleAppMessage(bytes, message);
}

}  // namespace tw
