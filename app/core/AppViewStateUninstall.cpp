#include <filesystem>
#include <system_error>

#include "app/core/AppViewState.h"
#include "app/core/LoginItem.h"
#include "app/core/PrivilegedShell.h"
#include "app/core/UninstallCommands.h"
#include "app/daemon/PeltoBus.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/AppLogger.h"

namespace tw {

void AppViewState::uninstall() {
    log("uninstall called");
    runPrivilegedCleanup([weak = weak_from_this()](bool completed) {
        auto self = weak.lock();
        if (!self) return;
        if (!completed) {
            self->log("Uninstall cancelled or failed, no changes made");
            return;
        }
        self->finishUninstall();
    });
}

void AppViewState::runPrivilegedCleanup(std::function<void(bool)> completion) {
    const auto commandLine = UninstallCommands::commandLine(peers_.packageInstalled);
    peers_.privilegedShell->runAsRoot(
        commandLine, [poster = onMain(), completion](std::expected<void, PrivilegedShell::Failure> result) {
            poster([result, completion](AppViewState& self) {
                if (result) {
                    self.log("Privileged cleanup completed");
                } else {
                    self.log("Privileged cleanup error: " + result.error().description);
                }
                completion(result.has_value());
            });
        });
}

void AppViewState::finishUninstall() {
    disconnect();
    peers_.peltoBus->stop();
    peers_.loginItem->unregister();
    // The application quits only once the VPN profile is gone, and its log folder goes last.
    peers_.tunnel->removeConfiguration([poster = onMain()] {
        poster([](AppViewState& self) {
            if (!self.peers_.applicationSupportFolder.empty()) {
                std::error_code ignored;
                std::filesystem::remove_all(self.peers_.applicationSupportFolder, ignored);
            }
            self.log(self.peers_.packageInstalled
                         ? "Uninstall completed; the tarnwick package stays installed for the "
                           "package manager to remove"
                         : "Uninstall completed");
            self.peers_.terminate();
        });
    });
}

}  // namespace tw
