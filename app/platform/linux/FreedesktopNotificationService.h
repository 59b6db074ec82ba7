#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "app/core/NotificationService.h"

namespace tw {

// User notifications through the desktop's notification server: org.freedesktop.Notifications
// on the session bus. Linux has no per-application permission, so the status is always
// authorised and a request always granted. Before the first notification it asks the server
// whether it reads markup in bodies and escapes them if so, so that a "&" or "<" in a text (an
// address, an error) shows as written. Delivery failures are silent. Runs on the Qt main thread.
class FreedesktopNotificationService final : public NotificationService {
  public:
    static constexpr const char* kApplicationName = "Tarnwick";

    // `desktopEntry` names the application's desktop file (without ".desktop"), which servers
    // use for its icon and settings.
    FreedesktopNotificationService(QDBusConnection bus, QString desktopEntry);
    FreedesktopNotificationService(const FreedesktopNotificationService&) = delete;
    FreedesktopNotificationService& operator=(const FreedesktopNotificationService&) = delete;

    // On the session bus, for the bundle's identifier.
    static const std::shared_ptr<FreedesktopNotificationService>& shared();

    void authorizationStatus(StatusAnswer answer) override;
    void requestAuthorization(AuthorizationAnswer answer) override;
    void add(Request request) override;

  private:
    enum class Capabilities { unknown, asking, known };

    void askCapabilities();
    void send(const Request& request) const;

    QDBusConnection bus_;
    const QString desktopEntry_;
    Capabilities capabilities_ = Capabilities::unknown;
    bool bodyMarkup_ = false;
    std::vector<Request> waiting_;  // added while the capabilities are asked
    // Parent of the pending capability question; declared last so that it goes first.
    QObject context_;
};

}  // namespace tw
