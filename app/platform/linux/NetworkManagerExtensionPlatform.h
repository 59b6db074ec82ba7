#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "app/platform/linux/NmExtensionPaths.h"
#include "app/platform/linux/PkexecShell.h"
#include "app/tunnel/SystemExtensionPlatform.h"
#include "base/Bundle.h"

namespace tw {

class MainQueue;
struct NmPluginRegistration;

// System extensions as NetworkManager has them: an extension is installed when NetworkManager
// holds a registration (".name" file) for its identifier, and it is this extension when the
// program it names carries the bundle's version (the extension's Info.json beside it). Enabled:
// the registration is one NetworkManager trusts and its program can run.
//
// An activation completes at once when this version is installed and enabled. Otherwise it waits
// for the user's approval, which is the first settings target: a polkit-authorised install
// (pkexec) of the bundle's registration files — program, Info.json, bus policy (the bus is told
// to reload) and the registration pointing at the program — into `paths`. The waiting request
// completes when the install has finished; a dismissed prompt leaves it waiting; a newer request
// supersedes it. The other settings targets are the desktop's network settings.
//
// "The application became active" is the wiring's to report (applicationDidBecomeActive(): the
// panel shown, a second launch handed over). Requests are answered on the caller's thread or the
// install's; the became-active handlers run on the main queue.
class NetworkManagerExtensionPlatform final
    : public SystemExtensionPlatform,
      public std::enable_shared_from_this<NetworkManagerExtensionPlatform> {
public:
    // The settings target that installs the registration.
    static constexpr const char* kInstallTarget = "install-networkmanager-registration";
    // Errors of the install, in this domain; the code is pkexec's exit status, or
    // kBundleNotRootOwned when the bundle's files could have been chosen by a user other than
    // root (nothing is then installed or asked).
    static constexpr const char* kInstallDomain = "tarnwick.NetworkManagerRegistration";
    static constexpr std::int64_t kBundleNotRootOwned = -2;
    // The platform's "extension not found" code, for an identifier the bundle does not hold.
    static constexpr std::int64_t kExtensionNotFound = 4;

    static std::shared_ptr<NetworkManagerExtensionPlatform> create(
        std::shared_ptr<MainQueue> mainQueue, std::filesystem::path bundleRoot,
        NmExtensionPaths paths = {});
    NetworkManagerExtensionPlatform(const NetworkManagerExtensionPlatform&) = delete;
    NetworkManagerExtensionPlatform& operator=(const NetworkManagerExtensionPlatform&) = delete;

    void submitActivationRequest(const std::string& identifier,
                                 SystemExtensionActivationDelegate delegate) override;
    void submitPropertiesRequest(const std::string& identifier,
                                 PropertiesCompletion completion) override;
    std::vector<std::string> settingsTargets() const override;
    bool openSettingsTarget(const std::string& target) override;
    std::vector<std::string> settingsApplications() const override;
    std::optional<std::string> locateApplication(const std::string& identifier) const override;
    void openApplication(const std::string& location) override;
    Subscription observeApplicationDidBecomeActive(std::function<void()> handler) override;

    void applicationDidBecomeActive();

private:
    struct Waiting {
        std::string identifier;
        SystemExtensionActivationDelegate delegate;
    };

    NetworkManagerExtensionPlatform(std::shared_ptr<MainQueue> mainQueue,
                                    std::filesystem::path bundleRoot, NmExtensionPaths paths);

    // Every registration NetworkManager holds, as extension properties.
    std::vector<SystemExtensionProperties> installedExtensions() const;
    // The root script of the approval for the bundle's extension `identifier`.
    std::string installScript(const std::string& identifier) const;
    std::filesystem::path bundledExtension(const std::string& identifier) const;
    std::optional<SystemExtensionProperties> bundledProperties(const std::string& identifier) const;
    std::optional<SystemExtensionProperties> installed(const std::string& identifier) const;
    SystemExtensionProperties propertiesOf(const NmPluginRegistration& registration) const;
    bool isCurrent(const std::string& identifier) const;
    void waitForApproval(const std::string& identifier, SystemExtensionActivationDelegate delegate);
    void didInstall(const PkexecShell::Result& result);
    void failWaiting(std::int64_t code, std::string description);

    const std::shared_ptr<MainQueue> mainQueue_;
    const std::filesystem::path bundleRoot_;
    const NmExtensionPaths paths_;
    PkexecShell shell_;
    mutable std::mutex mutex_;
    std::optional<Waiting> waiting_;
    std::map<int, std::function<void()>> becameActiveHandlers_;
    int nextHandler_ = 0;
};

}  // namespace tw
