#pragma once

#include <QString>
#include <QThread>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "app/tunnel/VpnPlatform.h"

namespace tw {

class MainQueue;
class NetworkManagerClient;

// The VPN layer on NetworkManager, over its D-Bus API on the system bus. A configuration is a
// NetworkManager VPN profile, known by its UUID (object paths change, for instance when
// NetworkManager restarts); new profiles belong to `owner` alone (connection.permissions), so
// that the user's session may change them without an administrator. A configuration's status is
// the state of its active connection.
//
// Threads: the D-Bus work runs on a QThread of the adapter's own (a NetworkManagerClient with its
// own event loop) over a system-bus connection of its own, which is why the adapter works under
// any main queue, Qt's or a test's (QtDBus holds back signals on the shared system-bus connection
// until Qt's main event loop runs). Completions and notifications are called on that thread;
// nothing waits for it. What the service reads synchronously (a configuration's settings and
// status) is written on the main queue only, posted before the completion or notification that
// announces it, so that reads after a notification see the state it announced, in order.
//
// The adapter joins its thread when destroyed, so it is never destroyed there: work on that thread
// holds it weakly, and a last reference dropped there hands the destruction to the main queue.
class NetworkManagerVpnPlatform final : public VpnPlatform,
                                        public std::enable_shared_from_this<NetworkManagerVpnPlatform> {
public:
    static std::shared_ptr<NetworkManagerVpnPlatform> create(std::shared_ptr<MainQueue> mainQueue,
                                                             QString owner = currentUserName());
    ~NetworkManagerVpnPlatform() override;
    NetworkManagerVpnPlatform(const NetworkManagerVpnPlatform&) = delete;
    NetworkManagerVpnPlatform& operator=(const NetworkManagerVpnPlatform&) = delete;

    void loadAll(LoadAllCompletion completion) override;
    std::shared_ptr<VpnConfiguration> makeConfiguration() override;
    Subscription observeStatusChanges(std::function<void()> handler) override;
    Subscription observeConfigurationChanges(std::function<void()> handler) override;

    // For the configurations.
    const std::shared_ptr<MainQueue>& mainQueue() const { return mainQueue_; }
    const QString& owner() const { return owner_; }
    // Runs `work` on the client's thread.
    void onClient(std::function<void(NetworkManagerClient&)> work);
    // On the main queue: the raw status last announced for the profile `uuid`.
    int connectionStatus(const QString& uuid) const;

    static QString currentUserName();

private:
    using Handlers = std::map<int, std::function<void()>>;

    NetworkManagerVpnPlatform(std::shared_ptr<MainQueue> mainQueue, QString owner);
    // The owners' deleter: never joins the client's thread from that thread.
    static void destroy(NetworkManagerVpnPlatform* platform);
    void startClient();
    Subscription observe(Handlers& handlers, std::function<void()> handler);
    void notify(const Handlers& handlers);

    const std::shared_ptr<MainQueue> mainQueue_;
    const QString owner_;
    const QString connectionName_;
    QThread thread_;
    NetworkManagerClient* client_ = nullptr;
    // Main queue only.
    std::map<QString, int> statuses_;
    std::mutex handlersMutex_;
    Handlers statusHandlers_;
    Handlers configurationHandlers_;
    int nextHandler_ = 0;
};

}  // namespace tw
