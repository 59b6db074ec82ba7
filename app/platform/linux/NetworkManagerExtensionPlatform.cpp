#include "app/platform/linux/NetworkManagerExtensionPlatform.h"

#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/platform/linux/NmPluginRegistration.h"
#include "app/platform/linux/RootOwnedBundleFiles.h"
#include "base/MainQueue.h"

namespace tw {

namespace {

constexpr const char* kProgramName = "tarnwick-packettunnel";

std::string contentsOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string q(const std::filesystem::path& path) { return PkexecShell::quoted(path.string()); }

SystemExtensionError error(const char* domain, std::int64_t code, std::string description) {
    return {domain, code, std::move(description)};
}

bool startDetached(const std::string& commandLine) {
    auto words = QString::fromStdString(commandLine).split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) return false;
    const auto program = words.takeFirst();
    if (QStandardPaths::findExecutable(program).isEmpty()) return false;
    return QProcess::startDetached(program, words);
}

}  // namespace

std::shared_ptr<NetworkManagerExtensionPlatform> NetworkManagerExtensionPlatform::create(
    std::shared_ptr<MainQueue> mainQueue, std::filesystem::path bundleRoot, NmExtensionPaths paths) {
    return std::shared_ptr<NetworkManagerExtensionPlatform>(new NetworkManagerExtensionPlatform(
        std::move(mainQueue), std::move(bundleRoot), std::move(paths)));
}

NetworkManagerExtensionPlatform::NetworkManagerExtensionPlatform(
    std::shared_ptr<MainQueue> mainQueue, std::filesystem::path bundleRoot, NmExtensionPaths paths)
    : mainQueue_(std::move(mainQueue)),
      bundleRoot_(std::move(bundleRoot)),
      paths_(std::move(paths)),
      shell_(paths_.pkexec) {}

// --- what is bundled and what is installed ---

std::filesystem::path NetworkManagerExtensionPlatform::bundledExtension(
    const std::string& identifier) const {
    return bundleRoot_ / "Library" / "SystemExtensions" / (identifier + ".systemextension");
}

std::optional<SystemExtensionProperties> NetworkManagerExtensionPlatform::bundledProperties(
    const std::string& identifier) const {
    const Bundle extension(bundledExtension(identifier));
    if (extension.bundleIdentifier() != identifier) return std::nullopt;
    return SystemExtensionProperties{
        identifier, extension.string("CFBundleShortVersionString").value_or(""), true, false, false};
}

SystemExtensionProperties NetworkManagerExtensionPlatform::propertiesOf(
    const NmPluginRegistration& registration) const {
    const std::filesystem::path program = registration.program;
    SystemExtensionProperties properties;
    properties.identifier = registration.identifier;
    properties.version =
        Bundle(program.parent_path()).string("CFBundleShortVersionString").value_or("");
    std::error_code ignored;
    properties.isEnabled = registration.isTrusted() && program.is_absolute() &&
                           std::filesystem::is_regular_file(program, ignored) &&
                           ::access(program.c_str(), X_OK) == 0;
    const auto bundled = bundledProperties(registration.identifier);
    properties.isAwaitingUserApproval = bundled && bundled->version != properties.version;
    return properties;
}

std::vector<SystemExtensionProperties> NetworkManagerExtensionPlatform::installedExtensions() const {
    std::vector<SystemExtensionProperties> extensions;
    for (const auto& folder : paths_.registrationFolders) {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() == ".name") files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            if (auto registration = NmPluginRegistration::read(file)) {
                extensions.push_back(propertiesOf(*registration));
            }
        }
    }
    return extensions;
}

std::optional<SystemExtensionProperties> NetworkManagerExtensionPlatform::installed(
    const std::string& identifier) const {
    for (auto& extension : installedExtensions()) {
        if (extension.identifier == identifier) return extension;
    }
    return std::nullopt;
}

bool NetworkManagerExtensionPlatform::isCurrent(const std::string& identifier) const {
    const auto bundled = bundledProperties(identifier);
    const auto current = installed(identifier);
    return bundled && current && current->version == bundled->version && current->isEnabled;
}

// --- requests ---

void NetworkManagerExtensionPlatform::submitActivationRequest(
    const std::string& identifier, SystemExtensionActivationDelegate delegate) {
    const auto bundled = bundledProperties(identifier);
    if (!bundled) {
        delegate.failed(error(SystemExtensionError::kDomain, kExtensionNotFound,
                              "The application holds no system extension " + identifier));
        return;
    }
    const auto current = installed(identifier);
    if (current && current->version == bundled->version && current->isEnabled) {
        delegate.finished(SystemExtensionRequestResult::completed);
        return;
    }
    if (!current || current->version == bundled->version || !delegate.replacingExtension) {
        waitForApproval(identifier, std::move(delegate));
        return;
    }
    auto ask = delegate.replacingExtension;
    ask(*current, *bundled,
        [weak = weak_from_this(), identifier, delegate](SystemExtensionReplacementAction action) {
            auto self = weak.lock();
            if (!self) return;
            if (action == SystemExtensionReplacementAction::replace) {
                self->waitForApproval(identifier, delegate);
            } else {
                delegate.failed(error(SystemExtensionError::kDomain,
                                      SystemExtensionError::kRequestCanceled,
                                      "The installed extension was kept"));
            }
        });
}

void NetworkManagerExtensionPlatform::waitForApproval(const std::string& identifier,
                                                      SystemExtensionActivationDelegate delegate) {
    std::optional<Waiting> superseded;
    {
        std::lock_guard lock(mutex_);
        superseded = std::exchange(waiting_, Waiting{identifier, delegate});
    }
    if (superseded) {
        superseded->delegate.failed(error(SystemExtensionError::kDomain,
                                          SystemExtensionError::kRequestSuperseded,
                                          "A newer request for the extension replaced this one"));
    }
    delegate.needsUserApproval();
}

void NetworkManagerExtensionPlatform::submitPropertiesRequest(const std::string&,
                                                              PropertiesCompletion completion) {
    completion(installedExtensions());
}

// --- the approval: installing the registration ---

std::string NetworkManagerExtensionPlatform::installScript(const std::string& identifier) const {
    const auto extension = bundledExtension(identifier);
    const auto& program = paths_.program;
    const auto programFolder = program.parent_path();
    const auto registrations = paths_.registrationFolders.front();
    const auto registration = registrations / (identifier + ".name");
    const auto staged = registrations / ("." + identifier + ".name.new");
    const auto text = NmPluginRegistration::withProgram(
        contentsOf(extension / (identifier + ".name")), program.string());
    std::ostringstream script;
    script << "set -e\numask 022\n"
           << "mkdir -p " << q(programFolder) << ' ' << q(paths_.busPolicyFolder) << ' '
           << q(registrations) << '\n'
           << "install -o root -g root -m 0755 " << q(extension / kProgramName) << ' '
           << q(program.string() + ".new") << '\n'
           << "mv -f " << q(program.string() + ".new") << ' ' << q(program) << '\n'
           << "install -o root -g root -m 0644 " << q(extension / "Info.json") << ' '
           << q(programFolder / "Info.json") << '\n'
           << "install -o root -g root -m 0644 " << q(extension / (identifier + ".conf")) << ' '
           << q(paths_.busPolicyFolder / (identifier + ".conf")) << '\n'
           << paths_.reloadBus << '\n'
           // NetworkManager does not notice edits to a registration it has loaded, only new ones.
           << "rm -f " << q(registration) << '\n'
           << "printf '%s' " << PkexecShell::quoted(text) << " > " << q(staged) << '\n'
           << "chown root:root " << q(staged) << "\nchmod 0644 " << q(staged) << '\n'
           << "mv -f " << q(staged) << ' ' << q(registration) << '\n';
    return script.str();
}

bool NetworkManagerExtensionPlatform::openSettingsTarget(const std::string& target) {
    if (target != kInstallTarget) return startDetached(target);
    std::string identifier;
    {
        std::lock_guard lock(mutex_);
        if (waiting_) identifier = waiting_->identifier;
    }
    if (identifier.empty()) {
        for (const auto& entry : Bundle(bundleRoot_).systemExtensions()) {
            if (entry.extension() != ".systemextension") continue;
            identifier = entry.stem().string();
            break;
        }
    }
    if (!bundledProperties(identifier)) return false;
    const auto extension = bundledExtension(identifier);
    const auto trusted = RootOwnedBundleFiles::check(
        bundleRoot_, {extension / kProgramName, extension / "Info.json",
                      extension / (identifier + ".conf"), extension / (identifier + ".name")});
    if (!trusted) {
        failWaiting(kBundleNotRootOwned,
                    "The NetworkManager registration is not installed from this bundle: " +
                        trusted.error());
        return false;
    }
    return shell_.run(installScript(identifier), [weak = weak_from_this()](PkexecShell::Result result) {
        if (auto self = weak.lock()) self->didInstall(result);
    });
}

void NetworkManagerExtensionPlatform::didInstall(const PkexecShell::Result& result) {
    if (result.outcome == PkexecShell::Outcome::dismissed) return;  // still waiting
    if (result.outcome == PkexecShell::Outcome::failed) {
        failWaiting(result.exitCode, "Installing the NetworkManager registration failed (exit " +
                                         std::to_string(result.exitCode) + "): " +
                                         result.errorOutput);
        return;
    }
    std::optional<Waiting> finished;
    {
        std::lock_guard lock(mutex_);
        finished = std::exchange(waiting_, std::nullopt);
    }
    if (!finished) return;
    if (isCurrent(finished->identifier)) {
        finished->delegate.finished(SystemExtensionRequestResult::completed);
    } else {
        finished->delegate.failed(error(kInstallDomain, 0,
                                        "The installed NetworkManager registration is not usable"));
    }
}

void NetworkManagerExtensionPlatform::failWaiting(std::int64_t code, std::string description) {
    std::optional<Waiting> failed;
    {
        std::lock_guard lock(mutex_);
        failed = std::exchange(waiting_, std::nullopt);
    }
    if (failed) failed->delegate.failed(error(kInstallDomain, code, std::move(description)));
}

// --- the desktop ---

std::vector<std::string> NetworkManagerExtensionPlatform::settingsTargets() const {
    return {kInstallTarget, "gnome-control-center network", "systemsettings kcm_networkmanagement",
            "nm-connection-editor"};
}

std::vector<std::string> NetworkManagerExtensionPlatform::settingsApplications() const {
    return {"gnome-control-center", "systemsettings", "nm-connection-editor"};
}

std::optional<std::string> NetworkManagerExtensionPlatform::locateApplication(
    const std::string& identifier) const {
    const auto location = QStandardPaths::findExecutable(QString::fromStdString(identifier));
    if (location.isEmpty()) return std::nullopt;
    return location.toStdString();
}

void NetworkManagerExtensionPlatform::openApplication(const std::string& location) {
    QProcess::startDetached(QString::fromStdString(location), {});
}

Subscription NetworkManagerExtensionPlatform::observeApplicationDidBecomeActive(
    std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    const int id = nextHandler_++;
    becameActiveHandlers_.emplace(id, std::move(handler));
    return Subscription([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            std::lock_guard relock(self->mutex_);
            self->becameActiveHandlers_.erase(id);
        }
    });
}

void NetworkManagerExtensionPlatform::applicationDidBecomeActive() {
    std::map<int, std::function<void()>> handlers;
    {
        std::lock_guard lock(mutex_);
        handlers = becameActiveHandlers_;
    }
    for (const auto& [id, handler] : handlers) mainQueue_->post(handler);
}

}  // namespace tw
