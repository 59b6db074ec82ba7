#include "packettunnel/PacketTunnelPlugin.h"

#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QPointer>

#include "packettunnel/AppMessageAdaptor.h"
#include "packettunnel/NetworkManagerTunnel.h"
#include "packettunnel/VpnPluginAdaptor.h"

namespace tw {

namespace {

const QString kLaunchFailed = "org.freedesktop.NetworkManager.VPN.Error.LaunchFailed";
const QString kAlreadyStarted = "org.freedesktop.NetworkManager.VPN.Error.AlreadyStarted";

}  // namespace

PacketTunnelPlugin::PacketTunnelPlugin(QDBusConnection bus, QString busName,
                                       std::shared_ptr<ProviderLog> log, bool persist)
    : bus_(std::move(bus)),
      busName_(std::move(busName)),
      persist_(persist),
      watcher_(bus_),
      adaptor_(new VpnPluginAdaptor(this)),
      tunnel_(std::make_shared<NetworkManagerTunnel>(
          kTunnelDevice, watcher_,
          [this](const PluginConfig& config) {
              emit adaptor_->Config(config.generic);
              emit adaptor_->Ip4Config(config.ip4);
          })),
      provider_(PacketTunnelProvider::create(std::move(log), tunnel_)) {
    qDBusRegisterMetaType<ConnectionSettings>();
    new AppMessageAdaptor(this);
    bus_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors);
    serving_ = bus_.registerService(busName_);
    bus_.connect("org.freedesktop.login1", "/org/freedesktop/login1",
                 "org.freedesktop.login1.Manager", "PrepareForSleep", this,
                 SLOT(prepareForSleep(bool)));
    auto* networkManager = new QDBusServiceWatcher(
        "org.freedesktop.NetworkManager", bus_, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(networkManager, &QDBusServiceWatcher::serviceUnregistered, this,
            &PacketTunnelPlugin::finishUnlessPersistent);
    idle_.setSingleShot(true);
    idle_.callOnTimeout(this, &PacketTunnelPlugin::finishUnlessPersistent);
    idle_.start(kIdleSeconds * 1000);
}

PacketTunnelPlugin::~PacketTunnelPlugin() {
    tunnel_->teardown();
    if (serving_) bus_.unregisterService(busName_);
    bus_.unregisterObject(kObjectPath);
}

void PacketTunnelPlugin::setState(PluginState state) {
    state_ = state;
    emit adaptor_->StateChanged(static_cast<uint>(state));
}

void PacketTunnelPlugin::connectTunnel(const ConnectionSettings& connection,
                                       const QDBusMessage& message) {
    message.setDelayedReply(true);
    if (state_ == PluginState::starting || state_ == PluginState::started) {
        bus_.send(message.createErrorReply(kAlreadyStarted, "The tunnel is up already"));
        return;
    }
    idle_.stop();
    setState(PluginState::starting);
    tunnel_->prepare(connection.value("connection").value("uuid").toString());
    // A start that fails at once fails the call, so that NetworkManager keeps the reason; one
    // that NetworkManager itself refuses later is known to it already.
    auto answered = std::make_shared<bool>(false);
    provider_->startTunnel(
        [self = QPointer(this), message, answered](std::optional<TunnelError> error) {
            if (self) self->didStart(message, answered, error);
        });
    if (!*answered) {
        *answered = true;
        bus_.send(message.createReply());
    }
}

void PacketTunnelPlugin::didStart(const QDBusMessage& call, const std::shared_ptr<bool>& answered,
                                  const std::optional<TunnelError>& error) {
    if (!*answered) {
        *answered = true;
        bus_.send(error ? call.createErrorReply(kLaunchFailed,
                                                QString::fromStdString(error->localizedDescription))
                        : call.createReply());
    }
    if (!error) setState(PluginState::started);
}

void PacketTunnelPlugin::disconnectTunnel() {
    setState(PluginState::stopping);
    provider_->stopTunnel(watcher_.lastReason(), [this] {
        // Told before the device goes (which takes the kernel a while), so that the news cannot
        // reach NetworkManager after it has begun a new activation with this plugin.
        setState(PluginState::stopped);
        tunnel_->teardown();
        idle_.start(kIdleSeconds * 1000);
    });
}

void PacketTunnelPlugin::refuse(const QDBusMessage& message) {
    message.setDelayedReply(true);
    bus_.send(message.createErrorReply(QDBusError::NotSupported,
                                       "The tunnel's settings are the provider's own"));
}

void PacketTunnelPlugin::handleAppMessage(const QByteArray& bytes, const QDBusMessage& message) {
    message.setDelayedReply(true);
    PacketTunnelProvider::MessageCompletion completion;
    if (message.isReplyRequired()) {
        completion = [bus = bus_, message](const std::vector<std::uint8_t>& response) {
            bus.send(message.createReply(QByteArray(reinterpret_cast<const char*>(response.data()),
                                                    static_cast<qsizetype>(response.size()))));
        };
    }
    provider_->handleAppMessage(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), completion);
}

void PacketTunnelPlugin::prepareForSleep(bool sleeping) {
    if (sleeping) {
        provider_->sleep([] {});
    } else {
        provider_->wake();
    }
}

void PacketTunnelPlugin::finishUnlessPersistent() {
    if (persist_) return;
    // Giving up the name first: a new activation then starts a fresh plugin instead of talking to
    // this one while it exits. The call also waits until everything sent before it is out.
    if (std::exchange(serving_, false)) bus_.unregisterService(busName_);
    emit finished();
}

}  // namespace tw
