// The composition root of tarnwick-desktop: claims the session's single instance, builds every
// production object once in dependency order, hands each its peers and runs Qt's event loop.

#include <QApplication>
#include <QDBusConnection>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/core/AppViewState.h"
#include "app/core/LoginItem.h"
#include "app/core/NotificationHelper.h"
#include "app/daemon/LocalAPIClient.h"
#include "app/daemon/PeltoBusClient.h"
#include "app/helperbridge/SocketHelperConnection.h"
#include "app/helperbridge/TarnwickCLI.h"
#include "app/core/UpdaterViewModel.h"
#include "app/menu/TarnwickMenuBarContent.h"
#include "app/platform/linux/AppcastUpdater.h"
#include "app/platform/linux/DesktopUrlOpener.h"
#include "app/platform/linux/FreedesktopNotificationService.h"
#include "app/platform/linux/NetworkManagerExtensionPlatform.h"
#include "app/platform/linux/NetworkManagerVpnPlatform.h"
#include "app/platform/linux/PkexecShell.h"
#include "app/platform/linux/QtMainQueue.h"
#include "app/platform/linux/SingleInstance.h"
#include "app/platform/linux/SystemdHelperRegistration.h"
#include "app/platform/linux/TerminationSignals.h"
#include "app/platform/linux/XdgAutostartLoginItemService.h"
#include "app/shell/AppDelegate.h"
#include "app/ui/QtClipboard.h"
#include "app/ui/QtFolderPicker.h"
#include "app/ui/TrayMainMenu.h"
#include "app/ui/TrayStatusItem.h"
#include "app/tunnel/SystemExtensionService.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/AppLogger.h"
#include "base/Bundle.h"
#include "base/NotificationCenter.h"
#include "base/Preferences.h"
#include "base/WorkerPool.h"

namespace tw {
namespace {

// A Wayland client cannot place the panel under the tray icon: run through XWayland when it is
// there, unless the user chose a platform.
void preferXWayland() {
    if (std::getenv("WAYLAND_DISPLAY") && std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

// The URL of the command line (the desktop entry's %u), if any.
std::string urlArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!argument.starts_with('-')) return argument;
    }
    return {};
}

// The folder of the application's own data, which holds its log; empty when the log fell back to
// the temporary directory, which is not the application's to remove.
std::string applicationSupportFolder(const AppLogger& logger) {
    const auto folder = std::filesystem::path(logger.logPath()).parent_path();
    return folder.filename() == "Tarnwick" ? folder.string() : std::string();
}

// Installed from the Debian package: the package manager then owns the installed files.
bool isPackageInstalled(const Bundle& bundle) {
    return bundle.root() == "/usr/lib/tarnwick" && std::filesystem::exists("/var/lib/dpkg/info/tarnwick.list");
}

QString aboutText(const Bundle& bundle) {
    const auto name = bundle.string("CFBundleDisplayName").value_or("Tarnwick");
    const auto version = bundle.string("CFBundleShortVersionString").value_or("");
    return QString::fromStdString(name + " " + version + "\n\nThe desktop client of the Tarnwick mesh VPN.");
}

int run(int argc, char** argv) {
    preferXWayland();
    QApplication application(argc, argv);
    // The application lives in the tray, not in a window.
    QApplication::setQuitOnLastWindowClosed(false);

    const auto logger = AppLogger::shared();
    auto instance = std::make_shared<SingleInstance>(QDBusConnection::sessionBus());
    std::string reason;
    switch (instance->claim(reason)) {
        case SingleInstance::Role::secondary: {
            std::string error;
            if (instance->forward(urlArgument(argc, argv), error)) return EXIT_SUCCESS;
            std::fprintf(stderr, "tarnwick-desktop: the running instance did not answer: %s\n", error.c_str());
            return EXIT_FAILURE;
        }
        case SingleInstance::Role::alone:
            logger->log("App", "Single-instance check off: " + reason);
            break;
        case SingleInstance::Role::primary:
            break;
    }

    const Bundle& bundle = Bundle::main();
    const auto mainQueue = std::make_shared<QtMainQueue>();
    const auto pool = WorkerPool::shared();

    // Daemon clients.
    const auto localAPI = LocalAPIClient::shared();
    const auto peltoBus = std::make_shared<PeltoBusClient>(std::string(LocalAPIClient::kDefaultSocketPath), logger,
                                                           mainQueue, pool);

    // Tunnel and extension services on their NetworkManager backends.
    const auto vpnPlatform = NetworkManagerVpnPlatform::create(mainQueue);
    const auto tunnel = VPNTunnelService::create(mainQueue, logger, vpnPlatform, bundle);
    const auto extensionPlatform = NetworkManagerExtensionPlatform::create(mainQueue, bundle.root());
    const auto systemExtension = SystemExtensionService::create(mainQueue, logger, extensionPlatform,
                                                                std::make_shared<NotificationCenter>(), bundle);
    const auto becameActiveForExtension =
        instance->observeDidBecomeActive([extensionPlatform] { extensionPlatform->applicationDidBecomeActive(); });

    // Helper bridge and the helper's registration.
    const auto cli = std::make_shared<TarnwickCLI>(
        bundle, logger,
        std::make_shared<SocketHelperConnection>(std::string(SocketHelperConnection::kDefaultSocketPath), pool));
    const auto rootShell = std::make_shared<PkexecShell>("pkexec");
    const auto helperRegistration = std::make_shared<SystemdHelperRegistration>(
        QDBusConnection::systemBus(), SystemdHelperRegistration::kHelperUnit, rootShell);

    // Desktop services.
    const auto notifications =
        std::make_shared<NotificationHelper>(mainQueue, FreedesktopNotificationService::shared(), logger);
    const std::shared_ptr<UpdaterService> updater = AppcastUpdater::fromBundle(bundle, notifications, {});
    const auto loginItem = std::make_shared<LoginItem>(Preferences::shared(), XdgAutostartLoginItemService::shared(),
                                                       logger);
    const auto urlOpener = std::make_shared<DesktopUrlOpener>();

    // The application state.
    AppViewState::Peers statePeers{
        mainQueue,
        logger,
        localAPI,
        peltoBus,
        tunnel,
        [weak = std::weak_ptr(systemExtension)] {
            const auto extension = weak.lock();
            return extension && extension->isApproved().get();
        },
        [notifications](const std::string& title, const std::string& body) { notifications->show(title, body); },
        [urlOpener](const std::string& url) { urlOpener->open(url); },
    };
    statePeers.privilegedShell = rootShell;
    statePeers.loginItem = loginItem;
    statePeers.applicationSupportFolder = applicationSupportFolder(*logger);
    statePeers.packageInstalled = isPackageInstalled(bundle);
    statePeers.terminate = [] { QCoreApplication::quit(); };
    const auto appState = AppViewState::create(statePeers);

    // The menu content and the views that render it.
    const auto menu = TarnwickMenuBarContent::create({
        .mainQueue = mainQueue,
        .logger = logger,
        .app = appState,
        .systemExtension = systemExtension,
        .updater = std::make_shared<UpdaterViewModel>(updater),
        .localAPI = localAPI,
        .notifications = notifications,
        .helperRegistration = helperRegistration,
        .clipboard = std::make_shared<QtClipboard>(),
        .urlOpener = urlOpener,
        .folderPicker = std::make_shared<QtFolderPicker>(),
        .workers = pool,
        .bundle = bundle,
        .quit = [] { QCoreApplication::quit(); },
        .uninstall = [weak = std::weak_ptr(appState)] {
            if (const auto state = weak.lock()) state->uninstall();
        },
    });
    const auto statusBar = std::make_shared<TrayStatusItem>(
        menu, logger, bundle.root() / "Resources" / "menu_icon.svg",
        [notifications](const std::string& title, const std::string& body) { notifications->show(title, body); });
    statusBar->didShowFromTray = [instance] { instance->didBecomeActive(); };
    const auto mainMenu = std::make_shared<TrayMainMenu>(*statusBar, aboutText(bundle));

    instance->onRemoteActivation = [weak = std::weak_ptr(statusBar)] {
        if (const auto bar = weak.lock()) bar->showWindow();
    };

    const auto delegate = AppDelegate::create({
        .mainQueue = mainQueue,
        .logger = logger,
        .appState = appState,
        .peltoBus = peltoBus,
        .cli = cli,
        .systemExtension = systemExtension,
        .tunnel = tunnel,
        .helperRegistration = helperRegistration,
        .loginItem = loginItem,
        .build = LoginItem::build(bundle),
        .notifications = notifications,
        .updater = updater,
        .statusBar = statusBar,
        .mainMenu = mainMenu,
        .events = instance,
        .processName = bundle.string("CFBundleName").value_or("Tarnwick"),
        .terminate = [] { QCoreApplication::quit(); },
    });

    // Quit, SIGTERM (also the end of the desktop session), SIGINT and SIGHUP all end here.
    const TerminationSignals terminationSignals([] { QCoreApplication::quit(); });
    // Weakly: the connection lives until the QApplication's destructor, and the views the delegate
    // owns must go before it.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [weak = std::weak_ptr(delegate)] {
        if (const auto alive = weak.lock()) alive->applicationWillTerminate();
    });

    mainQueue->post([delegate, instance, url = urlArgument(argc, argv)] {
        delegate->applicationDidFinishLaunching();
        // A login link this launch was started with is handled as one forwarded later would be.
        if (!url.empty()) delegate->handleIncomingURL(url);
    });
    const int status = QApplication::exec();
    // Hands what termination queued to the bus before the connections go; waits for no answer.
    QCoreApplication::sendPostedEvents();
    // Termination is done and the daemon keeps running. End the process here, once the log is on
    // disk, instead of tearing down objects that the stream, NetworkManager and worker threads may
    // still be calling into: there is nothing left to save, and the kernel frees the rest.
    logger->waitUntilWritten();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace
}  // namespace tw

int main(int argc, char** argv) { return tw::run(argc, argv); }
