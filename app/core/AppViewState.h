#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/LoginViewState.h"
#include "app/core/VpnViewState.h"
#include "app/daemon/PeltoBusClientDelegate.h"
#include "app/daemon/PeltoBusModels.h"
#include "base/MainPoster.h"
#include "base/Observable.h"
#include "base/OneShotTimer.h"
#include "base/SequenceChecker.h"

namespace tw {

class AppLogger;
class LocalAPI;
class LoginItem;
class MainQueue;
class PeltoBus;
class PrivilegedShell;
class VPNTunnelService;

// The application's one observable model: what the menu shows and every user action towards the
// daemon and the tunnel. It lives on the main queue; every answer from the daemon, the event
// stream or the platform is moved there before it touches the model, and every handler holds the
// model weakly.
class AppViewState final : public PeltoBusClientDelegate,
                           public std::enable_shared_from_this<AppViewState> {
public:
    struct Peers {
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<AppLogger> logger;
        std::shared_ptr<LocalAPI> localAPI;
        std::shared_ptr<PeltoBus> peltoBus;
        std::shared_ptr<VPNTunnelService> tunnel;
        // Whether the packet tunnel extension is approved and active.
        std::function<bool()> isExtensionApproved;
        // Posts a user notification.
        std::function<void(const std::string& title, const std::string& body)> showNotification;
        // Opens a URL in the user's browser.
        std::function<void(const std::string& url)> openURL;
        // Uninstall: the root cleanup, the login item, the folder of the application's own data
        // (empty when none is known), whether a package owns the installed files, and the end of
        // the application.
        std::shared_ptr<PrivilegedShell> privilegedShell{};
        std::shared_ptr<LoginItem> loginItem{};
        std::string applicationSupportFolder{};
        bool packageInstalled = false;
        std::function<void()> terminate{};
    };

    static constexpr const char* kDefaultJailReason = "device posture non-compliant";
    static constexpr const char* kJailNotificationTitle = "Tarnwick";
    static constexpr const char* kJailNotificationBody =
        "デバイスポリシーを満たしていないため、通信がブロックされています";
    static constexpr int kLoginPollAttempts = 120;
    static constexpr double kLoginPollInterval = 1.0;
    static constexpr double kVpnRetryDelay = 2.0;
    static constexpr int kMaxVpnRetries = 3;
    static constexpr int kProfileRefreshAttempts = 10;
    static constexpr double kProfileRefreshInterval = 0.3;

    // Becomes the event stream's delegate and follows the tunnel's status.
    static std::shared_ptr<AppViewState> create(Peers peers);
    AppViewState(const AppViewState&) = delete;
    AppViewState& operator=(const AppViewState&) = delete;

    // Observables. `login` is published only when it changes; the others on every assignment.
    Observable<LoginViewState>& login() { return login_; }
    Observable<VpnViewState>& vpn() { return vpn_; }
    Observable<std::vector<ProfileInfo>>& profiles() { return profiles_; }
    Observable<std::string>& currentProfileId() { return currentProfileId_; }
    Observable<bool>& helperNeedsApproval() { return helperNeedsApproval_; }
    Observable<std::optional<std::string>>& helperRegistrationError() { return helperRegistrationError_; }
    PeltoBusState currentBackendState() const { return currentBackendState_; }
    bool isLoggingOut() const { return isLoggingOut_; }

    // Opens the event stream.
    void start();
    void pollForLoginCompletion();

    void connect();
    void disconnect();

    void refreshProfiles();
    void switchProfile(const std::string& id);
    void switchProfileAndLogin(const std::string& id);
    void addNewAccount();
    void logout();
    // Removes everything installed outside the application, then quits it; changes nothing when
    // the administrator does not allow the cleanup.
    void uninstall();

    // Folds one status answer into the login state.
    void applyStatus(const DaemonStatus& status);

    // Called on the main queue, where the stream client delivers each line.
    void peltoBusDidConnect() override;
    void peltoBusDidDisconnect(const std::optional<std::string>& error) override;
    void peltoBusDidReceiveNotify(const PeltoBusNotify& notify) override;

private:
    explicit AppViewState(Peers peers);

    MainPoster<AppViewState> onMain() { return {peers_.mainQueue, weak_from_this()}; }
    void log(const std::string& message) const;

    void updateState(const PeltoBusNotify& notify);
    void applySelfNode(LoginViewState& copy, const NetworkMap& map, const Node& node) const;
    static void applyJail(LoginViewState& copy, bool jailed, std::optional<std::string_view> reason);
    void publishLogin(const LoginViewState& copy, bool connectOnLogin);
    void notifyJailTransition(const LoginViewState& from, const LoginViewState& to);
    void pollStep(std::shared_ptr<int> attempts);
    void schedulePollStep(std::shared_ptr<int> attempts);
    void handlePollStatus(const DaemonStatus& status, std::shared_ptr<int> attempts);

    void setDaemonWantRunning(bool wanted);
    void startVPNWithRetry();
    void scheduleVPNRetryIfNeeded();
    void vpnRetryCheck();
    void cancelVPNRetry();
    void ensureSavedThenStart();

    void applyLocalCurrentProfile(const std::string& id);
    void refreshProfilesWithRetry(std::optional<std::string> targetId, int attempts);
    void applyProfiles(const ProfilesResponse& response);
    void startLoginAfterSwitch();
    void openIfURL(const std::string& text) const;

    void runPrivilegedCleanup(std::function<void(bool)> completion);
    void finishUninstall();

    Peers peers_;
    SequenceChecker sequence_;
    Observable<LoginViewState> login_;
    Observable<VpnViewState> vpn_;
    Observable<std::vector<ProfileInfo>> profiles_;
    Observable<std::string> currentProfileId_;
    // The current profile as the daemon last reported it; currentProfileId_ runs ahead of it
    // while a switch is under way.
    std::optional<std::string> confirmedProfileId_;
    Observable<bool> helperNeedsApproval_{false};
    Observable<std::optional<std::string>> helperRegistrationError_;
    Subscription vpnStatusSubscription_;
    PeltoBusState currentBackendState_ = PeltoBusState::noState;
    bool isLoggingOut_ = false;
    OneShotTimer vpnConnectRetryTimer_;
    int vpnRetryCount_ = 0;
    // Counts connect() and disconnect() calls: a tunnel start that waited for the configuration to
    // be saved goes ahead only if no later call came meanwhile.
    std::uint64_t connectRequest_ = 0;
    // The refreshes after a profile switch or a logout.
    OneShotTimer profileRefreshTimer_;
};

}  // namespace tw
