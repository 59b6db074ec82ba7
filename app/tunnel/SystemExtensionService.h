#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/tunnel/SystemExtensionPlatform.h"
#include "base/Bundle.h"
#include "base/OneShotTimer.h"
#include "base/SequenceChecker.h"
#include "base/Observable.h"
#include "base/Subscription.h"

namespace tw {

class AppLogger;
class ExtensionPropertiesProbe;
class MainQueue;
class NotificationCenter;

// Gets the packet-tunnel extension installed and enabled: submits the activation request, answers
// the platform's questions, publishes the outcome (three flags, the callbacks and a notification),
// sends the user to the settings when approval is needed and asks again each time the user comes
// back to the application. Lives on the main queue: activate() called elsewhere re-posts itself
// there, and every platform answer is moved there first.
//
// Outcomes, as the flags show them (assigned together, before the notification and the callback):
//   activated         isApproved, no error
//   waiting, asked    needsUserApproval, no error
//   waiting, refused  needsUserApproval, the refusal's description
//   after reboot      neither, no error
//   failed            neither, the failure's description
class SystemExtensionService : public std::enable_shared_from_this<SystemExtensionService> {
public:
    static constexpr std::string_view kLogCategory = "SysExt";
    static constexpr const char* kCompletedNotification = "tarnwick.systemExtension.completed";
    static constexpr const char* kFailedNotification = "tarnwick.systemExtension.failed";
    static constexpr const char* kNeedsApprovalNotification =
        "tarnwick.systemExtension.needsApproval";
    static constexpr const char* kFallbackExtensionIdentifier = "com.tarnwick.desktop.PacketTunnel";
    // How long a superseded activation waits for the replacing request before it gives up the
    // in-flight guard.
    static constexpr double kSupersedeTimeoutSeconds = 30;

    static std::shared_ptr<SystemExtensionService> create(
        std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<AppLogger> logger,
        std::shared_ptr<SystemExtensionPlatform> platform,
        std::shared_ptr<NotificationCenter> notifications, Bundle bundle);
    SystemExtensionService(const SystemExtensionService&) = delete;
    SystemExtensionService& operator=(const SystemExtensionService&) = delete;

    // Submits an activation request unless one is in flight.
    void activate();
    // Opens the first settings target the platform can open, else the first settings application
    // it finds; else does nothing.
    void openSystemSettings();

    // Read and observe; only the service assigns them.
    Observable<bool>& isApproved() { return isApproved_; }
    Observable<bool>& needsUserApproval() { return needsUserApproval_; }
    Observable<std::optional<std::string>>& lastErrorDescription() { return lastErrorDescription_; }

    // Set by the owner; called on the main queue after the flags of the outcome are assigned.
    std::function<void()> onCompleted;
    std::function<void()> onWillCompleteAfterReboot;
    std::function<void()> onNeedsUserApproval;
    std::function<void()> onFailed;

private:
    SystemExtensionService(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<AppLogger> logger,
                           std::shared_ptr<SystemExtensionPlatform> platform,
                           std::shared_ptr<NotificationCenter> notifications, Bundle bundle);

    std::string expectedExtensionIdentifier() const;
    SystemExtensionActivationDelegate makeDelegate(std::uint64_t generation,
                                                   const std::string& identifier);

    SystemExtensionReplacementAction actionForReplacing(
        const std::string& identifier, const SystemExtensionProperties& installed,
        const SystemExtensionProperties& replacement) const;
    void didNeedUserApproval(std::uint64_t generation, const std::string& identifier);
    void didFinish(std::uint64_t generation, SystemExtensionRequestResult result);
    void didFail(std::uint64_t generation, const std::string& identifier,
                 const SystemExtensionError& error);
    void waitForReplacingRequest();
    void replacingRequestTimedOut(std::uint64_t generation);
    // A refusal is no failure when a usable copy is installed already.
    void probeAfterRefusal(std::uint64_t generation, const std::string& identifier,
                           const SystemExtensionError& error);
    void didProbeAfterRefusal(std::uint64_t generation, const SystemExtensionError& error,
                              bool installed);
    // True, with a log line, when `generation` is not the latest activation: a newer request has
    // been submitted since, and its answers are the ones that count.
    bool isStale(std::uint64_t generation) const;

    void askForApproval(std::optional<std::string> errorDescription);
    void reportActivationSuccess();
    void reportActivationFailure(const SystemExtensionError& error);
    void assignOutcome(bool approved, bool waitingForApproval,
                       std::optional<std::string> errorDescription);

    void checkExtensionInstalled(const std::string& identifier,
                                 std::function<void(bool)> completion);
    void startWaitingForApproval();
    void stopWaitingForApproval();
    void appDidBecomeActive();

    void log(const std::string& message) const;

    const std::shared_ptr<MainQueue> mainQueue_;
    const std::shared_ptr<AppLogger> logger_;
    const std::shared_ptr<SystemExtensionPlatform> platform_;
    const std::shared_ptr<NotificationCenter> notifications_;
    const Bundle bundle_;
    const SequenceChecker sequence_;

    // The in-flight guard.
    bool isActivating_ = false;
    // Counts submitted activations; ties answers and the supersede timer to their request.
    std::uint64_t activationGeneration_ = 0;
    OneShotTimer supersedeTimer_;
    // Held while waiting for the user's approval.
    Subscription appDidBecomeActive_;
    // Running probes, kept alive until they report.
    std::map<std::uint64_t, std::shared_ptr<ExtensionPropertiesProbe>> propertiesProbes_;
    std::uint64_t nextProbeId_ = 0;

    Observable<bool> isApproved_{false};
    Observable<bool> needsUserApproval_{false};
    Observable<std::optional<std::string>> lastErrorDescription_;
};

}  // namespace tw
