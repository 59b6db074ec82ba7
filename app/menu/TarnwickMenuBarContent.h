#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/menu/MenuInputs.h"
#include "app/menu/MenuPanelModel.h"
#include "app/menu/MenuViewState.h"
#include "base/Bundle.h"
#include "base/MainPoster.h"
#include "base/Observable.h"
#include "base/Subscription.h"

namespace tw {

class AppLogger;
class AppViewState;
class Clipboard;
class FolderPicker;
class HelperRegistration;
class LocalAPI;
class MainQueue;
class NotificationHelper;
class SystemExtensionService;
class UpdaterViewModel;
class UrlOpener;
class WorkerPool;

// The content of the tray panel: observes the application state, the extension service and the
// update checker, publishes the panel as rows, and carries out what the user picks in it. Lives
// on the main queue.
class TarnwickMenuBarContent final : public MenuPanelModel,
                                     public std::enable_shared_from_this<TarnwickMenuBarContent> {
public:
    static constexpr const char* kDefaultDaemonLogPath = "/var/log/tarnwickd/client.log";
    static constexpr const char* kLogCategory = "UI";

    struct Peers {
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<AppLogger> logger;
        std::shared_ptr<AppViewState> app;
        std::shared_ptr<SystemExtensionService> systemExtension;
        std::shared_ptr<UpdaterViewModel> updater;
        std::shared_ptr<LocalAPI> localAPI;
        std::shared_ptr<NotificationHelper> notifications;
        std::shared_ptr<HelperRegistration> helperRegistration;
        std::shared_ptr<Clipboard> clipboard;
        std::shared_ptr<UrlOpener> urlOpener;
        std::shared_ptr<FolderPicker> folderPicker;
        // Runs the log export's file copies.
        std::shared_ptr<WorkerPool> workers;
        // Info.json: the white-label rule and the home and documentation pages.
        Bundle bundle;
        // Ends the application.
        std::function<void()> quit;
        // Removes the application from the system; run once the user confirms.
        std::function<void()> uninstall;
        std::string daemonLogPath = kDefaultDaemonLogPath;
    };

    static std::shared_ptr<TarnwickMenuBarContent> create(Peers peers);
    TarnwickMenuBarContent(const TarnwickMenuBarContent&) = delete;
    TarnwickMenuBarContent& operator=(const TarnwickMenuBarContent&) = delete;

    const MenuPanel& panel() const override { return panel_.get(); }
    [[nodiscard]] Subscription subscribe(std::function<void(const MenuPanel&)> callback) override;
    void appeared() override;
    void activate(MenuRowId id, const std::string& profileId = {}) override;
    void setHovering(MenuRowId id, const std::string& profileId, bool hovering) override;
    void dismissMorePopover() override;
    void dismissSwitchAccountPopover() override;
    void confirmUninstall() override;
    void cancelUninstall() override;

    // True when Info.json names a conductor of its own: a non-empty "TWConductorURL" that is no
    // unexpanded build placeholder.
    static bool isWhiteLabelBuild(const Bundle& bundle);

    // Opens the pending login URL, or asks the daemon for one, and waits for the login.
    void startLoginFlow();
    // Disconnects while connected or connecting, else connects.
    void toggleVpn();
    // Puts `value` on the clipboard and tells the user so.
    void copy(const std::string& value, const std::string& label);
    void notifyCopied(const std::string& title, const std::string& body);
    // Opens a URL or a local folder; nothing when the text is none.
    void open(const std::string& url);
    // Asks for a folder and copies the application's and the daemon's logs into it.
    void exportLogs();

private:
    explicit TarnwickMenuBarContent(Peers peers);

    MainPoster<TarnwickMenuBarContent> onMain() { return {peers_.mainQueue, weak_from_this()}; }
    void observe();
    MenuInputs readInputs() const;
    void rebuild();
    bool forgetHoverOfHiddenRows(const MenuPanel& panel);
    const MenuRow* visibleRow(MenuRowId id, const std::string& profileId) const;

    void perform(MenuRowId id, const std::string& profileId);
    void approveHelper();
    void didApproveHelper(const std::optional<std::string>& error);
    void activateSystemExtension();
    void copyAddress(MenuRowId id);
    void chooseProfile(const std::string& profileId);
    void addAccount();
    void toggleMorePopover();
    void toggleSwitchAccountPopover();
    void didStartLogin(const std::string& url);
    void exportLogsInto(const std::string& folder);
    void didExportLogs(const std::string& folder, const std::vector<std::string>& names);
    void log(const std::string& message) const;

    const Peers peers_;
    const bool isWhiteLabel_;
    MenuViewState view_;
    Observable<MenuPanel> panel_;
    std::vector<Subscription> observations_;
    bool isApprovingHelper_ = false;
};

}  // namespace tw
