#include "app/platform/linux/NetworkManagerVpnPlatform.h"

#include <pwd.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QUuid>

#include "app/platform/linux/NetworkManagerClient.h"
#include "app/platform/linux/NetworkManagerVpnConfiguration.h"
#include "app/platform/linux/NmError.h"
#include "base/MainQueue.h"

namespace tw {

std::shared_ptr<NetworkManagerVpnPlatform> NetworkManagerVpnPlatform::create(
    std::shared_ptr<MainQueue> mainQueue, QString owner) {
    std::shared_ptr<NetworkManagerVpnPlatform> platform(
        new NetworkManagerVpnPlatform(std::move(mainQueue), std::move(owner)), &destroy);
    platform->startClient();
    return platform;
}

void NetworkManagerVpnPlatform::destroy(NetworkManagerVpnPlatform* platform) {
    if (QThread::currentThread() != &platform->thread_) {
        delete platform;
        return;
    }
    const auto queue = platform->mainQueue_;
    queue->post([platform] { delete platform; });
}

NetworkManagerVpnPlatform::NetworkManagerVpnPlatform(std::shared_ptr<MainQueue> mainQueue,
                                                     QString owner)
    : mainQueue_(std::move(mainQueue)),
      owner_(std::move(owner)),
      connectionName_("tarnwick-networkmanager-" +
                      QString::number(reinterpret_cast<quintptr>(this), 16)) {
    qDBusRegisterMetaType<NmConnectionSettings>();
    qDBusRegisterMetaType<QMap<QString, QString>>();
    qDBusRegisterMetaType<QList<QDBusObjectPath>>();
}

NetworkManagerVpnPlatform::~NetworkManagerVpnPlatform() {
    thread_.quit();
    thread_.wait();
    QDBusConnection::disconnectFromBus(connectionName_);
}

QString NetworkManagerVpnPlatform::currentUserName() {
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::getuid());
}

void NetworkManagerVpnPlatform::startClient() {
    NetworkManagerClient::Listener listener;
    listener.statusChanged = [weak = weak_from_this(), queue = mainQueue_](const QString& uuid,
                                                                            int raw) {
        queue->post([weak, uuid, raw] {
            if (auto self = weak.lock()) self->statuses_[uuid] = raw;
        });
    };
    listener.statusAnnounced = [this] { notify(statusHandlers_); };
    listener.configurationsChanged = [this] { notify(configurationHandlers_); };
    client_ = new NetworkManagerClient(
        QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName_),
        std::move(listener));
    client_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, client_, &QObject::deleteLater);
    thread_.setObjectName("NetworkManager");
    thread_.start();
    onClient([](NetworkManagerClient& client) { client.start(); });
}

void NetworkManagerVpnPlatform::onClient(std::function<void(NetworkManagerClient&)> work) {
    QMetaObject::invokeMethod(
        client_, [client = client_, work = std::move(work)] { work(*client); },
        Qt::QueuedConnection);
}

void NetworkManagerVpnPlatform::loadAll(LoadAllCompletion completion) {
    onClient([self = shared_from_this(), completion = std::move(completion)](auto& client) {
        client.loadAll([self, completion](auto profiles) {
            if (!profiles) {
                completion(std::unexpected(profiles.error()));
                return;
            }
            Configurations configurations;
            for (auto& saved : *profiles) {
                configurations.push_back(std::make_shared<NetworkManagerVpnConfiguration>(
                    self, std::move(saved.profile), std::move(saved.settings)));
            }
            completion(std::move(configurations));
        });
    });
}

std::shared_ptr<VpnConfiguration> NetworkManagerVpnPlatform::makeConfiguration() {
    return std::make_shared<NetworkManagerVpnConfiguration>(
        shared_from_this(), NmProfile::newVpn(QUuid::createUuid().toString(QUuid::WithoutBraces)),
        NmConnectionSettings{});
}

int NetworkManagerVpnPlatform::connectionStatus(const QString& uuid) const {
    const auto found = statuses_.find(uuid);
    return found == statuses_.end() ? VpnConfiguration::kStatusDisconnected : found->second;
}

Subscription NetworkManagerVpnPlatform::observeStatusChanges(std::function<void()> handler) {
    return observe(statusHandlers_, std::move(handler));
}

Subscription NetworkManagerVpnPlatform::observeConfigurationChanges(std::function<void()> handler) {
    return observe(configurationHandlers_, std::move(handler));
}

Subscription NetworkManagerVpnPlatform::observe(Handlers& handlers, std::function<void()> handler) {
    std::lock_guard lock(handlersMutex_);
    const int id = nextHandler_++;
    handlers.emplace(id, std::move(handler));
    return Subscription([weak = weak_from_this(), &handlers, id] {
        if (auto self = weak.lock()) {
            std::lock_guard relock(self->handlersMutex_);
            handlers.erase(id);
        }
    });
}

void NetworkManagerVpnPlatform::notify(const Handlers& handlers) {
    Handlers snapshot;
    {
        std::lock_guard lock(handlersMutex_);
        snapshot = handlers;
    }
    for (const auto& [id, handler] : snapshot) handler();
}

}  // namespace tw
