#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/core/HelperRegistrationStatus.h"
#include "base/MainPoster.h"
#include "base/Subscription.h"

namespace tw {

class AppLogger;
class AppViewState;
class ApplicationEvents;
class HelperRegistration;
class LoginItem;
class MainMenu;
class MainQueue;
class NotificationHelper;
class PeltoBus;
class StatusBarController;
class SystemExtensionService;
class TarnwickCLI;
class UpdaterService;
class VPNTunnelService;

// The application shell. At launch it builds what the user sees (notifications, the tray icon
// and its panel, the main menu, the URL handler, the login item), then brings the background up
// in order: the helper registered and pinged with growing pauses until it answers, the daemon
// started through it, the packet-tunnel extension activated, the VPN profile saved, and the
// application state started — exactly once, at the earliest of: profile saved, activation failed,
// or five seconds after activation was asked for. It handles login links and ends the
// application's network activity at termination, leaving the daemon running. Lives on the main
// queue; every answer is moved there and every callback holds the delegate weakly.
class AppDelegate final : public std::enable_shared_from_this<AppDelegate> {
public:
    struct Peers {
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<AppLogger> logger;
        std::shared_ptr<AppViewState> appState;
        // The state's event stream, stopped at termination.
        std::shared_ptr<PeltoBus> peltoBus;
        std::shared_ptr<TarnwickCLI> cli;
        std::shared_ptr<SystemExtensionService> systemExtension;
        std::shared_ptr<VPNTunnelService> tunnel;
        std::shared_ptr<HelperRegistration> helperRegistration;
        std::shared_ptr<LoginItem> loginItem;
        // The running build, for the login item's once-per-build rule.
        std::string build;
        std::shared_ptr<NotificationHelper> notifications;
        std::shared_ptr<UpdaterService> updater;
        std::shared_ptr<StatusBarController> statusBar;
        std::shared_ptr<MainMenu> mainMenu;
        std::shared_ptr<ApplicationEvents> events;
        // The application's name in the main menu's items.
        std::string processName;
        // Ends the application (the main menu's Quit); termination then runs as for every end.
        std::function<void()> terminate;
    };

    static constexpr int kMaxHelperRetries = 10;
    static constexpr double kHelperRetryBaseDelay = 0.5;
    static constexpr double kHelperRetryGrowth = 1.5;
    static constexpr double kAppStateFallbackDelay = 5.0;
    static constexpr const char* kUrlScheme = "tarnwick";
    static constexpr const char* kTokenItem = "token";
    static constexpr const char* kHelperNeedsApprovalMessage =
        "Helper requires approval in the Tarnwick panel → Enable Helper (Login Items), which asks "
        "for an administrator.";
    static constexpr const char* kHelperUnreachableMessage =
        "Failed to connect to background helper. Please restart the app or use Enable Helper "
        "(Login Items) in the panel.";

    static std::shared_ptr<AppDelegate> create(Peers peers);
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    // Runs once, however the application ends; later calls do nothing. Waits for nothing.
    void applicationWillTerminate();
    // A URL opened with the application: a "tarnwick" link with a non-empty "token" starts the
    // login poll and shows the panel; anything else is ignored.
    void handleIncomingURL(const std::string& url);

    bool didStartAppState() const { return didStartAppState_; }

private:
    explicit AppDelegate(Peers peers);

    MainPoster<AppDelegate> onMain() { return {peers_.mainQueue, weak_from_this()}; }
    void log(const std::string& message) const;

    void setupMainMenu();
    void registerLoginItemIfNeeded();
    // Registers the helper, publishes its approval state, then runs `then`.
    void registerHelper(std::function<void(AppDelegate&)> then);
    void readHelperStatus(std::function<void(AppDelegate&)> then);
    void publishHelperStatus(HelperRegistrationStatus status);
    void pingHelper(int retryCount);
    void ensureHelperReadyAndStart(bool reachable, int retryCount);
    void retryHelperLater(int retryCount);
    void giveUpOnHelper();
    void startDaemonAndSystemExtension();
    void startAppStateOnce();
    void applicationDidBecomeActive();

    const Peers peers_;
    bool didStartAppState_ = false;
    bool didTerminate_ = false;
    Subscription appActiveObserver_;
};

}  // namespace tw
