#include "app/platform/linux/NetworkManagerClient.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QTimer>
#include <chrono>
#include <memory>

#include "app/platform/linux/NmError.h"
#include "app/platform/linux/NmService.h"
#include "app/tunnel/VpnConfiguration.h"

namespace tw {

namespace {

using State = NmActiveConnectionInterface;

// The raw status of one active connection; the better of two is the one shown.
int rawStatusOf(uint state) {
    switch (state) {
        case State::kActivating: return VpnConfiguration::kStatusConnecting;
        case State::kActivated: return VpnConfiguration::kStatusConnected;
        case State::kDeactivating: return VpnConfiguration::kStatusDisconnecting;
        default: return VpnConfiguration::kStatusDisconnected;
    }
}

int rank(int raw) {
    switch (raw) {
        case VpnConfiguration::kStatusConnected: return 3;
        case VpnConfiguration::kStatusConnecting: return 2;
        case VpnConfiguration::kStatusDisconnecting: return 1;
        default: return 0;
    }
}

}  // namespace

NetworkManagerClient::NetworkManagerClient(QDBusConnection bus, Listener listener)
    : bus_(bus),
      listener_(std::move(listener)),
      settings_(bus),
      connections_(bus),
      manager_(bus),
      actives_(bus),
      verdictTimer_(this) {
    verdictTimer_.setSingleShot(true);
    verdictTimer_.setInterval(std::chrono::seconds(kStartVerdictSeconds));
    connect(&verdictTimer_, &QTimer::timeout, this, [this] { settle(std::nullopt); });
}

template <typename Reply, typename Handle>
void NetworkManagerClient::whenDone(const Reply& call, Handle handle) {
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [watcher, handle = std::move(handle)]() mutable {
                watcher->deleteLater();
                handle(Reply(*watcher));
            });
}

void NetworkManagerClient::start() {
    settings_.subscribe(this, SLOT(newConnection(QDBusObjectPath)),
                        SLOT(connectionRemoved(QDBusObjectPath)));
    connections_.subscribeUpdated(this, SLOT(connectionUpdated(QDBusMessage)));
    actives_.subscribeStateChanged(this, SLOT(activeStateChanged(uint, uint, QDBusMessage)));
    auto* service = new QDBusServiceWatcher(NmService::kName, bus_,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(service, &QDBusServiceWatcher::serviceRegistered, this,
            &NetworkManagerClient::networkManagerAppeared);
    connect(service, &QDBusServiceWatcher::serviceUnregistered, this,
            &NetworkManagerClient::networkManagerVanished);
    snapshotProfiles();
    snapshotActiveConnections();
}

// --- profiles ---

void NetworkManagerClient::withProfilePath(
    const QString& uuid, std::function<void(std::expected<QString, VpnError>)> next) {
    whenDone(settings_.getConnectionByUuid(uuid),
             [next = std::move(next)](const QDBusPendingReply<QDBusObjectPath>& reply) {
                 if (reply.isError()) {
                     next(std::unexpected(NmError::fromDBus(reply.error(), NmError::kReadWriteFailed)));
                 } else {
                     next(reply.value().path());
                 }
             });
}

void NetworkManagerClient::fetch(const QString& path,
                                 std::function<void(std::optional<NmSavedProfile>)> next) {
    whenDone(connections_.getSettings(path),
             [path, next = std::move(next)](const QDBusPendingReply<NmConnectionSettings>& reply) {
                 if (reply.isError()) {
                     next(std::nullopt);
                     return;
                 }
                 const auto settings = reply.value();
                 next(NmSavedProfile{path, settings, NmProfile::fromSettings(settings)});
             });
}

void NetworkManagerClient::fetchAll(LoadedAll completion) {
    whenDone(settings_.listConnections(), [this, completion = std::move(completion)](
                                              const QDBusPendingReply<QList<QDBusObjectPath>>& reply) {
        if (reply.isError()) {
            completion(std::unexpected(NmError::fromDBus(reply.error(), NmError::kReadWriteFailed)));
            return;
        }
        // Fetched side by side, reported in NetworkManager's order; a profile that vanished in
        // the meantime is left out.
        struct Gathering {
            std::vector<std::optional<NmSavedProfile>> entries;
            std::size_t remaining;
            LoadedAll completion;
        };
        const auto paths = reply.value();
        auto gathering = std::make_shared<Gathering>(
            Gathering{std::vector<std::optional<NmSavedProfile>>(paths.size()),
                      static_cast<std::size_t>(paths.size()), completion});
        auto finish = [gathering] {
            std::vector<NmSavedProfile> vpns;
            for (auto& entry : gathering->entries) {
                if (entry && entry->profile.isVpn()) vpns.push_back(std::move(*entry));
            }
            gathering->completion(std::move(vpns));
        };
        if (paths.isEmpty()) finish();
        for (qsizetype i = 0; i < paths.size(); ++i) {
            fetch(paths[i].path(), [gathering, i, finish](std::optional<NmSavedProfile> profile) {
                gathering->entries[static_cast<std::size_t>(i)] = std::move(profile);
                if (--gathering->remaining == 0) finish();
            });
        }
    });
}

void NetworkManagerClient::loadAll(LoadedAll completion) { fetchAll(std::move(completion)); }

void NetworkManagerClient::load(const QString& uuid, Loaded completion) {
    withProfilePath(uuid, [this, completion = std::move(completion)](auto path) {
        if (!path) {
            completion(std::unexpected(path.error()));
            return;
        }
        fetch(*path, [completion, path = *path](std::optional<NmSavedProfile> profile) {
            if (profile) {
                completion(std::move(*profile));
            } else {
                completion(std::unexpected(NmError::fromDBus(
                    QDBusError(QDBusError::UnknownObject, "The profile " + path + " went away"),
                    NmError::kReadWriteFailed)));
            }
        });
    });
}

void NetworkManagerClient::add(const NmConnectionSettings& settings, Done completion) {
    whenDone(settings_.addConnection(settings),
             [completion = std::move(completion)](const QDBusPendingReply<QDBusObjectPath>& reply) {
                 if (reply.isError()) {
                     completion(NmError::fromDBus(reply.error(), NmError::kReadWriteFailed));
                 } else {
                     completion(std::nullopt);
                 }
             });
}

void NetworkManagerClient::update(const QString& uuid, const NmConnectionSettings& settings,
                                  Done completion) {
    withProfilePath(uuid, [this, settings, completion = std::move(completion)](auto path) {
        if (!path) {
            completion(path.error());
            return;
        }
        whenDone(connections_.update(*path, settings), [completion](const QDBusPendingReply<>& reply) {
            if (reply.isError()) {
                completion(NmError::fromDBus(reply.error(), NmError::kReadWriteFailed));
            } else {
                completion(std::nullopt);
            }
        });
    });
}

void NetworkManagerClient::remove(const QString& uuid, Done completion) {
    withProfilePath(uuid, [this, completion = std::move(completion)](auto path) {
        if (!path) {
            completion(path.error());
            return;
        }
        whenDone(connections_.remove(*path), [completion](const QDBusPendingReply<>& reply) {
            if (reply.isError()) {
                completion(NmError::fromDBus(reply.error(), NmError::kReadWriteFailed));
            } else {
                completion(std::nullopt);
            }
        });
    });
}

// --- profile change notifications: only real changes of VPN profiles count ---

void NetworkManagerClient::snapshotProfiles() {
    fetchAll([this](auto profiles) {
        if (!profiles) return;
        knownProfiles_.clear();
        for (const auto& saved : *profiles) knownProfiles_[saved.path] = saved.profile;
    });
}

void NetworkManagerClient::newConnection(const QDBusObjectPath& path) {
    fetch(path.path(), [this](std::optional<NmSavedProfile> saved) {
        if (!saved || !saved->profile.isVpn()) return;
        knownProfiles_[saved->path] = saved->profile;
        listener_.configurationsChanged();
    });
}

void NetworkManagerClient::connectionRemoved(const QDBusObjectPath& path) {
    if (knownProfiles_.erase(path.path()) != 0) listener_.configurationsChanged();
}

void NetworkManagerClient::connectionUpdated(const QDBusMessage& message) {
    fetch(message.path(), [this](std::optional<NmSavedProfile> saved) {
        if (!saved) return;
        const auto known = knownProfiles_.find(saved->path);
        if (!saved->profile.isVpn()) {
            if (known == knownProfiles_.end()) return;
            knownProfiles_.erase(known);
        } else if (known != knownProfiles_.end() && known->second == saved->profile) {
            return;  // NetworkManager repeats Updated, for instance during an activation
        } else {
            knownProfiles_[saved->path] = saved->profile;
        }
        listener_.configurationsChanged();
    });
}

// --- active connections and the status ---

void NetworkManagerClient::snapshotActiveConnections() {
    whenDone(manager_.activeConnections(), [this](const QDBusPendingReply<QDBusVariant>& reply) {
        if (reply.isError()) return;
        QList<QDBusObjectPath> paths;
        qvariant_cast<QDBusArgument>(reply.value().variant()) >> paths;
        for (const auto& path : paths) lookUpUuid(path.path());
    });
}

// Replies come in the order NetworkManager sent them, after the signals it sent before, so the
// state read here is never older than one a signal already gave.
void NetworkManagerClient::lookUpUuid(const QString& path) {
    auto& active = activeByPath_[path];
    if (active.lookingUp) return;
    active.lookingUp = true;
    whenDone(actives_.properties(path), [this, path](const QDBusPendingReply<QVariantMap>& reply) {
        const auto found = activeByPath_.find(path);
        if (found == activeByPath_.end()) return;
        found->second.lookingUp = false;
        if (reply.isError()) {
            // Gone before we asked: it is over. Kept, with its reason, only for a start whose
            // answer from NetworkManager is still to come and may name it.
            found->second.state = State::kDeactivated;
            if (!found->second.uuid.isEmpty()) {
                activeChanged(path);
            } else if (!start_ || !start_->path.isEmpty()) {
                activeByPath_.erase(found);
            }
            return;
        }
        found->second.uuid = reply.value().value("Uuid").toString();
        found->second.vpn = reply.value().value("Vpn").toBool();
        found->second.state = reply.value().value("State").toUInt();
        activeChanged(path);
    });
}

void NetworkManagerClient::activeStateChanged(uint state, uint reason, const QDBusMessage& message) {
    const auto path = message.path();
    auto& active = activeByPath_[path];
    active.state = state;
    active.reason = reason;
    if (active.uuid.isEmpty()) {
        lookUpUuid(path);
        return;
    }
    activeChanged(path);
}

void NetworkManagerClient::activeChanged(const QString& path) {
    const auto found = activeByPath_.find(path);
    const auto active = found->second;
    if (active.state == State::kDeactivated) activeByPath_.erase(found);
    // Published before the verdict, so that a start's own transitions are held back with it.
    if (active.vpn && !active.uuid.isEmpty()) publish(active.uuid);
    if (!start_ || start_->path != path) return;
    if (active.state == State::kActivated) {
        settle(std::nullopt);
    } else if (active.state == State::kDeactivated) {
        settle(NmError::activationFailed(active.reason));
    }
}

int NetworkManagerClient::rawStatus(const QString& uuid) const {
    int best = VpnConfiguration::kStatusDisconnected;
    for (const auto& [path, active] : activeByPath_) {
        if (active.uuid != uuid) continue;
        const int raw = rawStatusOf(active.state);
        if (rank(raw) > rank(best)) best = raw;
    }
    return best;
}

void NetworkManagerClient::publish(const QString& uuid) {
    const int raw = rawStatus(uuid);
    const auto last = published_.find(uuid);
    if (last != published_.end() && last->second == raw) return;
    published_[uuid] = raw;
    listener_.statusChanged(uuid, raw);
    announceUnlessHeld(uuid);
}

void NetworkManagerClient::announceUnlessHeld(const QString& uuid) {
    if (start_ && start_->uuid == uuid) {
        heldAnnouncement_ = true;
        return;
    }
    listener_.statusAnnounced();
}

// --- start and stop ---

void NetworkManagerClient::activate(const QString& uuid, Done verdict) {
    // One start at a time: a start still open here lets the status tell from now on.
    settle(std::nullopt);
    start_ = Start{uuid, {}, std::move(verdict)};
    verdictTimer_.start();
    withProfilePath(uuid, [this, uuid](auto profilePath) {
        if (!start_ || start_->uuid != uuid) return;
        if (!profilePath) {
            settle(profilePath.error());
            return;
        }
        whenDone(manager_.activateConnection(*profilePath),
                 [this, uuid](const QDBusPendingReply<QDBusObjectPath>& reply) {
                     if (!start_ || start_->uuid != uuid) return;
                     if (reply.isError()) {
                         settle(NmError::fromDBus(reply.error(), NmError::kConnectionFailed));
                         return;
                     }
                     const auto path = reply.value().path();
                     start_->path = path;
                     auto& active = activeByPath_[path];
                     active.uuid = uuid;
                     active.vpn = true;
                     if (active.state == State::kUnknown) active.state = State::kActivating;
                     activeChanged(path);
                 });
    });
}

void NetworkManagerClient::settle(std::optional<VpnError> outcome) {
    verdictTimer_.stop();
    if (!start_) return;
    const auto finished = std::exchange(start_, std::nullopt);
    if (finished->verdict) finished->verdict(outcome);
    // A failed start is told by its verdict alone; the transitions it went through are history.
    if (std::exchange(heldAnnouncement_, false) && !outcome) listener_.statusAnnounced();
}

void NetworkManagerClient::deactivate(const QString& uuid) {
    for (const auto& [path, active] : activeByPath_) {
        if (active.uuid == uuid && active.state != State::kDeactivating) {
            whenDone(manager_.deactivateConnection(path), [](const QDBusPendingReply<>&) {});
        }
    }
}

// --- NetworkManager coming and going ---

void NetworkManagerClient::networkManagerVanished() {
    settle(NmError::networkManagerGone());
    std::vector<QString> uuids;
    for (const auto& [path, active] : activeByPath_) {
        if (active.vpn && !active.uuid.isEmpty()) uuids.push_back(active.uuid);
    }
    activeByPath_.clear();
    for (const auto& uuid : uuids) publish(uuid);
    knownProfiles_.clear();
    listener_.configurationsChanged();
}

void NetworkManagerClient::networkManagerAppeared() {
    snapshotProfiles();
    snapshotActiveConnections();
    listener_.configurationsChanged();
}

}  // namespace tw
