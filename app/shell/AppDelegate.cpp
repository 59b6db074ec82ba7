#include "app/shell/AppDelegate.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "app/core/AppViewState.h"
#include "app/core/ApplicationEvents.h"
#include "app/core/HelperRegistration.h"
#include "app/core/LoginItem.h"
#include "app/core/NotificationHelper.h"
#include "app/core/UpdaterService.h"
#include "app/daemon/PeltoBus.h"
#include "app/helperbridge/TarnwickCLI.h"
#include "app/menu/MainMenu.h"
#include "app/menu/StatusBarController.h"
#include "app/shell/LoginLink.h"
#include "app/tunnel/SystemExtensionService.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/AppLogger.h"
#include "base/MainQueue.h"

namespace tw {

namespace {

constexpr std::string_view kCategory = "App";

std::string formatDelay(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

}  // namespace

std::shared_ptr<AppDelegate> AppDelegate::create(Peers peers) {
    return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(peers)));
}

AppDelegate::AppDelegate(Peers peers) : peers_(std::move(peers)) {}

void AppDelegate::log(const std::string& message) const { peers_.logger->log(kCategory, message); }

void AppDelegate::applicationDidFinishLaunching() {
    log("Tarnwick Desktop App Launching...");
    peers_.notifications->requestAuthorization();
    peers_.statusBar->setupMenuBar();
    setupMainMenu();
    peers_.events->setUrlHandler([weak = weak_from_this()](const std::string& url) {
        if (auto self = weak.lock()) self->handleIncomingURL(url);
    });
    registerLoginItemIfNeeded();
    registerHelper([](AppDelegate& self) { self.pingHelper(0); });
    appActiveObserver_ = peers_.events->observeDidBecomeActive([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->applicationDidBecomeActive();
    });
}

void AppDelegate::setupMainMenu() {
    const auto& name = peers_.processName;
    peers_.mainMenu->install({
        {"About " + name, [menu = std::weak_ptr(peers_.mainMenu)] {
             if (auto target = menu.lock()) target->showAboutPanel();
         }},
        {"Check for Updates...", [updater = std::weak_ptr(peers_.updater)] {
             if (auto target = updater.lock()) target->checkForUpdates();
         }},
        {"", {}},
        {"Quit " + name, peers_.terminate},
    });
}

void AppDelegate::registerLoginItemIfNeeded() { peers_.loginItem->registerIfNeeded(peers_.build); }

void AppDelegate::registerHelper(std::function<void(AppDelegate&)> then) {
    peers_.helperRegistration->registerService(
        [poster = onMain(), then = std::move(then)](HelperRegistration::Result result) {
            poster([result, then](AppDelegate& self) {
                if (!result) {
                    self.log("Helper register attempt failed: " + result.error().description());
                }
                self.readHelperStatus(then);
            });
        });
}

void AppDelegate::readHelperStatus(std::function<void(AppDelegate&)> then) {
    peers_.helperRegistration->status(
        [poster = onMain(), then = std::move(then)](HelperRegistrationStatus status) {
            poster([status, then](AppDelegate& self) {
                self.publishHelperStatus(status);
                then(self);
            });
        });
}

void AppDelegate::publishHelperStatus(HelperRegistrationStatus status) {
    auto& state = *peers_.appState;
    if (status == HelperRegistrationStatus::requiresApproval) {
        state.helperNeedsApproval().set(true);
        state.helperRegistrationError().set(kHelperNeedsApprovalMessage);
    } else {
        state.helperNeedsApproval().set(false);
        state.helperRegistrationError().set(std::nullopt);
    }
}

void AppDelegate::pingHelper(int retryCount) {
    // The ping completes on a thread of the connection; the chain goes on on the main queue.
    peers_.cli->ping([poster = onMain(), retryCount](bool reachable) {
        poster([reachable, retryCount](AppDelegate& self) {
            self.ensureHelperReadyAndStart(reachable, retryCount);
        });
    });
}

void AppDelegate::ensureHelperReadyAndStart(bool reachable, int retryCount) {
    if (reachable) {
        log("Helper is ready and reachable. Starting daemon...");
        startDaemonAndSystemExtension();
    } else if (retryCount < kMaxHelperRetries) {
        retryHelperLater(retryCount);
    } else {
        giveUpOnHelper();
    }
}

void AppDelegate::retryHelperLater(int retryCount) {
    const double delay = kHelperRetryBaseDelay * std::pow(kHelperRetryGrowth, retryCount);
    log("Helper not reachable. Retrying in " + formatDelay(delay) + " seconds (attempt " +
        std::to_string(retryCount + 1) + "/" + std::to_string(kMaxHelperRetries) + ")...");
    peers_.mainQueue->postDelayed(delay, [weak = weak_from_this(), retryCount] {
        auto self = weak.lock();
        if (!self) return;
        self->registerHelper(
            [retryCount](AppDelegate& delegate) { delegate.pingHelper(retryCount + 1); });
    });
}

void AppDelegate::giveUpOnHelper() {
    log("Failed to communicate with Helper after " + std::to_string(kMaxHelperRetries) +
        " attempts.");
    // Still "needs approval", so that the next activation starts a new chain.
    peers_.appState->helperRegistrationError().set(kHelperUnreachableMessage);
    peers_.appState->helperNeedsApproval().set(true);
}

void AppDelegate::startDaemonAndSystemExtension() {
    peers_.cli->up();
    auto& extension = *peers_.systemExtension;
    extension.onCompleted = [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->log("System Extension activated, ensuring VPN configuration...");
        self->peers_.tunnel->ensureConfigurationSaved([poster = self->onMain()] {
            poster([](AppDelegate& delegate) {
                delegate.log("VPN configuration ready, starting app state...");
                delegate.startAppStateOnce();
            });
        });
    };
    extension.onFailed = [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->log("System Extension activation failed, starting app state anyway...");
        self->startAppStateOnce();
    };
    extension.activate();
    // An activation waiting for the user's approval may never report.
    peers_.mainQueue->postDelayed(kAppStateFallbackDelay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->startAppStateOnce();
    });
}

void AppDelegate::startAppStateOnce() {
    if (didStartAppState_) return;
    didStartAppState_ = true;
    peers_.appState->start();
}

void AppDelegate::applicationDidBecomeActive() {
    if (!peers_.appState->helperNeedsApproval().get()) return;
    log("App became active while helper needs approval, re-checking...");
    registerHelper([](AppDelegate& self) { self.pingHelper(0); });
}

void AppDelegate::handleIncomingURL(const std::string& url) {
    if (!LoginLink::token(url, kUrlScheme, kTokenItem)) return;
    // The token itself is the daemon's business; it is neither logged nor kept.
    peers_.logger->log("State", "Authenticate called with token");
    peers_.appState->pollForLoginCompletion();
    peers_.statusBar->showWindow();
}

void AppDelegate::applicationWillTerminate() {
    if (std::exchange(didTerminate_, true)) return;
    log("Tarnwick Desktop App terminating...");
    peers_.logger->log("CLI", "Invoking tarnwick down via Helper");
    peers_.cli->down();
    peers_.tunnel->stop();
    peers_.peltoBus->stop();
    appActiveObserver_.reset();
    log("Tarnwick Desktop App terminated (tarnwickd still running)");
}

}  // namespace tw
