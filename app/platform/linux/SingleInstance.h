#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/core/ApplicationEvents.h"

namespace tw {

// One running application per session: the first owns the session-bus name and serves
// org.freedesktop.Application, as GApplication and KDBusService do; a later launch hands its URL
// (or a plain activation) to it and ends. `Open` gives each URL to the URL handler and `Activate`
// counts as the application becoming active. Runs on the Qt main thread.
class SingleInstance final : public ApplicationEvents {
public:
    static constexpr const char* kServiceName = "com.tarnwick.desktop";
    static constexpr const char* kObjectPath = "/com/tarnwick/desktop";

    enum class Role {
        // This process owns the name and serves the interface.
        primary,
        // Another process owns the name: forward to it and end.
        secondary,
        // No session bus (or the name cannot be had): run alone, unchecked.
        alone,
    };

    explicit SingleInstance(QDBusConnection bus);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Serves the interface and asks for the name. Answers why not with `alone` in `reason`.
    Role claim(std::string& reason);
    // Calls Open with `url`, or Activate without one, on the instance that owns the name. False,
    // with the bus's text in `error`, when it did not answer within a second.
    bool forward(const std::string& url, std::string& error);

    void setUrlHandler(std::function<void(const std::string&)> handler) override;
    Subscription observeDidBecomeActive(std::function<void()> handler) override;
    // Reports the application as active from elsewhere (the panel shown).
    void didBecomeActive();

    // Runs on each Activate from the bus, after the became-active observers (shows the panel).
    std::function<void()> onRemoteActivation;

private:
    void open(const QStringList& uris);
    void remoteActivation();

    QDBusConnection bus_;
    QObject exported_;
    bool registered_ = false;
    std::function<void(const std::string&)> urlHandler_;
    std::vector<std::string> pendingUrls_;
    std::map<int, std::function<void()>> activeHandlers_;
    int nextHandler_ = 0;
};

}  // namespace tw
