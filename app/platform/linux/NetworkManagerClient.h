#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QTimer>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "app/platform/linux/NmActiveConnectionInterface.h"
#include "app/platform/linux/NmManagerInterface.h"
#include "app/platform/linux/NmSavedProfile.h"
#include "app/platform/linux/NmSettingsConnectionInterface.h"
#include "app/platform/linux/NmSettingsInterface.h"
#include "app/tunnel/VpnError.h"

class QDBusPendingCall;
class QDBusPendingCallWatcher;

namespace tw {

// The VPN layer's side of NetworkManager, on a thread of its own: every D-Bus exchange happens
// here, and so does the bookkeeping of active connections (by path, attributed to profiles by
// UUID; only VPN ones are announced) and of the VPN profiles (to tell real changes from
// NetworkManager's repeats). Every
// method runs on this object's thread; completions and the listener are called there too.
//
// While a start waits for NetworkManager's verdict, status announcements for that profile are
// held: a start that fails is reported by its verdict alone, and one that succeeds is announced
// once the verdict is in.
class NetworkManagerClient final : public QObject {
    Q_OBJECT

public:
    struct Listener {
        // The profile `uuid`'s raw connection status (VpnConfiguration::kStatus...) is now `raw`.
        std::function<void(const QString& uuid, int raw)> statusChanged;
        // Time for readers of the status to look again.
        std::function<void()> statusAnnounced;
        std::function<void()> configurationsChanged;
    };
    using Done = std::function<void(std::optional<VpnError>)>;
    using Loaded = std::function<void(std::expected<NmSavedProfile, VpnError>)>;
    using LoadedAll = std::function<void(std::expected<std::vector<NmSavedProfile>, VpnError>)>;

    NetworkManagerClient(QDBusConnection bus, Listener listener);

    // Subscribes and takes the first snapshot.
    void start();
    // The VPN profiles in NetworkManager's order.
    void loadAll(LoadedAll completion);
    void load(const QString& uuid, Loaded completion);
    void add(const NmConnectionSettings& settings, Done completion);
    void update(const QString& uuid, const NmConnectionSettings& settings, Done completion);
    void remove(const QString& uuid, Done completion);
    // How long a start waits for NetworkManager's verdict before it lets the status tell.
    static constexpr int kStartVerdictSeconds = 10;

    // Activates the profile; `verdict` is called exactly once: with nothing once it is up (or
    // when kStartVerdictSeconds pass, or a later start replaces this one, without a verdict), or
    // with why it did not come up.
    void activate(const QString& uuid, Done verdict);
    void deactivate(const QString& uuid);

private slots:
    void newConnection(const QDBusObjectPath& path);
    void connectionRemoved(const QDBusObjectPath& path);
    void connectionUpdated(const QDBusMessage& message);
    void activeStateChanged(uint state, uint reason, const QDBusMessage& message);
    void networkManagerAppeared();
    void networkManagerVanished();

private:
    struct Active {
        QString uuid;  // empty until known
        bool vpn = false;
        uint state = NmActiveConnectionInterface::kUnknown;
        uint reason = 0;
        bool lookingUp = false;
    };
    struct Start {
        QString uuid;
        QString path;  // empty until NetworkManager has answered
        Done verdict;
    };

    template <typename Reply, typename Handle>
    void whenDone(const Reply& call, Handle handle);
    void withProfilePath(const QString& uuid, std::function<void(std::expected<QString, VpnError>)> next);
    void fetch(const QString& path, std::function<void(std::optional<NmSavedProfile>)> next);
    void fetchAll(LoadedAll completion);
    void snapshotProfiles();
    void snapshotActiveConnections();
    void lookUpUuid(const QString& path);
    void activeChanged(const QString& path);
    void publish(const QString& uuid);
    int rawStatus(const QString& uuid) const;
    void settle(std::optional<VpnError> outcome);
    void announceUnlessHeld(const QString& uuid);

    QDBusConnection bus_;
    const Listener listener_;
    const NmSettingsInterface settings_;
    const NmSettingsConnectionInterface connections_;
    const NmManagerInterface manager_;
    const NmActiveConnectionInterface actives_;

    std::map<QString, Active> activeByPath_;
    std::map<QString, int> published_;          // uuid → raw status last published
    std::map<QString, NmProfile> knownProfiles_;  // path → VPN profile, as the signals told
    std::optional<Start> start_;
    // A child, so that it moves to the client's thread with it. Stopped once the start is
    // settled, so that a thread at rest is not woken for nothing.
    QTimer verdictTimer_;
    bool heldAnnouncement_ = false;
};

}  // namespace tw
