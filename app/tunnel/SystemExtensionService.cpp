#include "app/tunnel/SystemExtensionService.h"

#include <algorithm>

#include "app/tunnel/ExtensionPropertiesProbe.h"
#include "base/AppLogger.h"
#include "base/MainQueue.h"
#include "base/NotificationCenter.h"

namespace tw {

namespace {

constexpr std::size_t kMaxIdentifierLength = 255;

// ASCII only, whatever the locale.
bool isIdentifierCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

bool isValidIdentifierElement(std::string_view element) {
    return !element.empty() && !(element.front() >= '0' && element.front() <= '9') &&
           std::all_of(element.begin(), element.end(), isIdentifierCharacter);
}

// The identifier names the extension's registration file and its bus name, so only a well-formed
// bus name is taken from a bundle: dot-separated elements of letters, digits, '_' and '-', none
// starting with a digit, at least two.
bool isValidExtensionIdentifier(std::string_view identifier) {
    if (identifier.size() > kMaxIdentifierLength ||
        identifier.find('.') == std::string_view::npos) {
        return false;
    }
    for (std::size_t start = 0;;) {
        const auto end = identifier.find('.', start);
        if (!isValidIdentifierElement(identifier.substr(start, end - start))) return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

std::optional<std::string> embeddedSystemExtensionIdentifier(const Bundle& bundle) {
    for (const auto& entry : bundle.systemExtensions()) {
        if (entry.extension() != ".systemextension") continue;
        auto identifier = Bundle(entry).bundleIdentifier();
        if (identifier && isValidExtensionIdentifier(*identifier)) return identifier;
    }
    return std::nullopt;
}

// Runs `work` on `queue` with the service if it still exists by then, else `ifGone`.
void postToService(const std::shared_ptr<MainQueue>& queue,
                   std::weak_ptr<SystemExtensionService> service,
                   std::function<void(SystemExtensionService&)> work,
                   std::function<void()> ifGone = {}) {
    queue->post([service = std::move(service), work = std::move(work), ifGone = std::move(ifGone)] {
        if (auto self = service.lock()) {
            work(*self);
        } else if (ifGone) {
            ifGone();
        }
    });
}

void call(const std::function<void()>& callback) {
    if (callback) callback();
}

}  // namespace

std::shared_ptr<SystemExtensionService> SystemExtensionService::create(
    std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<AppLogger> logger,
    std::shared_ptr<SystemExtensionPlatform> platform,
    std::shared_ptr<NotificationCenter> notifications, Bundle bundle) {
    return std::shared_ptr<SystemExtensionService>(
        new SystemExtensionService(std::move(mainQueue), std::move(logger), std::move(platform),
                                   std::move(notifications), std::move(bundle)));
}

SystemExtensionService::SystemExtensionService(std::shared_ptr<MainQueue> mainQueue,
                                               std::shared_ptr<AppLogger> logger,
                                               std::shared_ptr<SystemExtensionPlatform> platform,
                                               std::shared_ptr<NotificationCenter> notifications,
                                               Bundle bundle)
    : mainQueue_(std::move(mainQueue)),
      logger_(std::move(logger)),
      platform_(std::move(platform)),
      notifications_(std::move(notifications)),
      bundle_(std::move(bundle)),
      sequence_(mainQueue_),
      supersedeTimer_(mainQueue_) {}

void SystemExtensionService::log(const std::string& message) const {
    logger_->log(kLogCategory, message);
}

std::string SystemExtensionService::expectedExtensionIdentifier() const {
    if (auto embedded = embeddedSystemExtensionIdentifier(bundle_)) return *embedded;
    if (auto own = bundle_.bundleIdentifier()) {
        auto identifier = *own + ".PacketTunnel";
        if (isValidExtensionIdentifier(identifier)) return identifier;
    }
    log("Missing host bundle identifier; falling back to default PacketTunnel id");
    return kFallbackExtensionIdentifier;
}

// --- activation ---

void SystemExtensionService::activate() {
    if (!mainQueue_->isCurrent()) {
        postToService(mainQueue_, weak_from_this(),
                      [](SystemExtensionService& self) { self.activate(); });
        return;
    }
    if (isActivating_) {
        log("Activation already in progress, skipping");
        return;
    }
    isActivating_ = true;
    ++activationGeneration_;
    const auto identifier = expectedExtensionIdentifier();
    log("Activating extension " + identifier);
    platform_->submitActivationRequest(identifier, makeDelegate(activationGeneration_, identifier));
}

SystemExtensionActivationDelegate SystemExtensionService::makeDelegate(
    std::uint64_t generation, const std::string& identifier) {
    SystemExtensionActivationDelegate delegate;
    delegate.replacingExtension = [queue = mainQueue_, weak = weak_from_this(), identifier](
                                      const SystemExtensionProperties& installed,
                                      const SystemExtensionProperties& replacement,
                                      SystemExtensionActivationDelegate::ReplacementAnswer answer) {
        // Once the service is gone nobody needs the new copy: the installed one is kept.
        postToService(
            queue, weak,
            [=](SystemExtensionService& self) {
                answer(self.actionForReplacing(identifier, installed, replacement));
            },
            [answer] { answer(SystemExtensionReplacementAction::cancel); });
    };
    delegate.needsUserApproval = [queue = mainQueue_, weak = weak_from_this(), generation,
                                  identifier] {
        postToService(queue, weak, [=](SystemExtensionService& self) {
            self.didNeedUserApproval(generation, identifier);
        });
    };
    delegate.finished = [queue = mainQueue_, weak = weak_from_this(),
                         generation](SystemExtensionRequestResult result) {
        postToService(queue, weak,
                      [=](SystemExtensionService& self) { self.didFinish(generation, result); });
    };
    delegate.failed = [queue = mainQueue_, weak = weak_from_this(), generation,
                       identifier](const SystemExtensionError& error) {
        postToService(queue, weak, [=](SystemExtensionService& self) {
            self.didFail(generation, identifier, error);
        });
    };
    return delegate;
}

bool SystemExtensionService::isStale(std::uint64_t generation) const {
    if (generation == activationGeneration_) return false;
    log("Ignoring a late answer to activation " + std::to_string(generation) + "; activation " +
        std::to_string(activationGeneration_) + " is current");
    return true;
}

// --- the platform's answers ---

SystemExtensionReplacementAction SystemExtensionService::actionForReplacing(
    const std::string& identifier, const SystemExtensionProperties& installed,
    const SystemExtensionProperties& replacement) const {
    // Whichever version is newer: the bundle's copy is the one this application works with.
    log("Replacing extension " + identifier + " version " + installed.version + " with version " +
        replacement.version);
    return SystemExtensionReplacementAction::replace;
}

void SystemExtensionService::didNeedUserApproval(std::uint64_t generation,
                                                 const std::string& identifier) {
    sequence_.check();
    if (isStale(generation)) return;
    log("Extension " + identifier + " requires user approval");
    isActivating_ = false;
    askForApproval(std::nullopt);
}

void SystemExtensionService::didFinish(std::uint64_t generation,
                                       SystemExtensionRequestResult result) {
    sequence_.check();
    if (isStale(generation)) return;
    isActivating_ = false;
    switch (result) {
        case SystemExtensionRequestResult::completed:
            log("Completed");
            reportActivationSuccess();
            return;
        case SystemExtensionRequestResult::willCompleteAfterReboot:
            // The approval wait goes on: the user may still allow the extension before rebooting.
            log("Will complete after reboot");
            assignOutcome(false, false, std::nullopt);
            call(onWillCompleteAfterReboot);
            return;
    }
    log("Unexpected result " + std::to_string(static_cast<std::int64_t>(result)));
}

void SystemExtensionService::didFail(std::uint64_t generation, const std::string& identifier,
                                     const SystemExtensionError& error) {
    sequence_.check();
    // A request is superseded by a newer one, so that answer always comes from an earlier
    // activation; it concerns the guard of the current one.
    const bool superseded = error.hasCode(SystemExtensionError::kRequestSuperseded);
    if (!superseded && isStale(generation)) return;
    log("Request failed: domain=" + error.domain + " code=" + std::to_string(error.code) + " " +
        error.localizedDescription);
    if (superseded) {
        waitForReplacingRequest();
        return;
    }
    isActivating_ = false;
    if (error.domain != SystemExtensionError::kDomain) {
        reportActivationFailure(error);
    } else if (error.code == SystemExtensionError::kRequestCanceled) {
        log("Activation canceled; keeping current state");
    } else if (error.code == SystemExtensionError::kAuthorizationRequired) {
        log("Extension needs user approval: " + error.localizedDescription);
        askForApproval(error.localizedDescription);
    } else {
        probeAfterRefusal(generation, identifier, error);
    }
}

void SystemExtensionService::waitForReplacingRequest() {
    log("Activation superseded; waiting for the replacing request");
    supersedeTimer_.start(kSupersedeTimeoutSeconds, [this, generation = activationGeneration_] {
        replacingRequestTimedOut(generation);
    });
}

void SystemExtensionService::replacingRequestTimedOut(std::uint64_t generation) {
    if (!isActivating_ || generation != activationGeneration_) return;
    log("Replacing request never reported; clearing in-flight guard");
    isActivating_ = false;
}

void SystemExtensionService::probeAfterRefusal(std::uint64_t generation,
                                               const std::string& identifier,
                                               const SystemExtensionError& error) {
    checkExtensionInstalled(identifier,
                            [weak = weak_from_this(), generation, error](bool installed) {
                                if (auto self = weak.lock())
                                    self->didProbeAfterRefusal(generation, error, installed);
                            });
}

void SystemExtensionService::didProbeAfterRefusal(std::uint64_t generation,
                                                  const SystemExtensionError& error,
                                                  bool installed) {
    sequence_.check();
    if (isStale(generation)) return;
    if (!installed) {
        reportActivationFailure(error);
        return;
    }
    log("Activation refused but an installed extension is enabled; continuing with it");
    reportActivationSuccess();
}

// --- outcomes ---

void SystemExtensionService::assignOutcome(bool approved, bool waitingForApproval,
                                           std::optional<std::string> errorDescription) {
    sequence_.check();
    isApproved_.set(approved);
    needsUserApproval_.set(waitingForApproval);
    lastErrorDescription_.set(std::move(errorDescription));
}

void SystemExtensionService::askForApproval(std::optional<std::string> errorDescription) {
    assignOutcome(false, true, std::move(errorDescription));
    notifications_->post(kNeedsApprovalNotification);
    call(onNeedsUserApproval);
    openSystemSettings();
    startWaitingForApproval();
}

void SystemExtensionService::reportActivationSuccess() {
    stopWaitingForApproval();
    assignOutcome(true, false, std::nullopt);
    notifications_->post(kCompletedNotification);
    call(onCompleted);
}

void SystemExtensionService::reportActivationFailure(const SystemExtensionError& error) {
    log("Extension not available: " + error.localizedDescription);
    stopWaitingForApproval();
    assignOutcome(false, false, error.localizedDescription);
    notifications_->post(kFailedNotification);
    call(onFailed);
}

// --- the properties probe ---

void SystemExtensionService::checkExtensionInstalled(const std::string& identifier,
                                                     std::function<void(bool)> completion) {
    const auto id = nextProbeId_++;
    auto probe = ExtensionPropertiesProbe::create(
        identifier, mainQueue_, logger_,
        [weak = weak_from_this(), id, identifier,
         completion = std::move(completion)](bool installed) {
            auto self = weak.lock();
            if (!self) return;
            self->log("Properties probe for " + identifier +
                      ": installed=" + (installed ? "true" : "false"));
            completion(installed);
            // Later, since the probe is still reporting.
            postToService(self->mainQueue_, weak, [id](SystemExtensionService& service) {
                service.propertiesProbes_.erase(id);
            });
        });
    propertiesProbes_.emplace(id, probe);
    probe->start(*platform_);
}

// --- the approval wait and the settings ---

void SystemExtensionService::startWaitingForApproval() {
    stopWaitingForApproval();
    appDidBecomeActive_ = platform_->observeApplicationDidBecomeActive([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->appDidBecomeActive();
    });
}

void SystemExtensionService::stopWaitingForApproval() { appDidBecomeActive_.reset(); }

void SystemExtensionService::appDidBecomeActive() {
    if (!needsUserApproval_.get() || isApproved_.get()) return;
    log("App became active, re-trying activation");
    activate();
}

void SystemExtensionService::openSystemSettings() {
    for (const auto& target : platform_->settingsTargets()) {
        if (platform_->openSettingsTarget(target)) return;
    }
    for (const auto& application : platform_->settingsApplications()) {
        if (auto location = platform_->locateApplication(application)) {
            platform_->openApplication(*location);
            return;
        }
    }
}

}  // namespace tw
