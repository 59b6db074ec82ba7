#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

#include "app/core/HelperRegistration.h"
#include "app/core/PrivilegedShell.h"

namespace tw {

// The helper's registration as a systemd unit, through systemd's manager on the system bus
// (org.freedesktop.systemd1). The unit is the helper's socket: socket activation starts the
// service on the first connection.
//
// Status, from the unit file's state: "enabled" and "enabled-runtime" are enabled; "masked" and
// "masked-runtime" are not found, since a masked unit is the administrator's block that no
// approval lifts (systemd refuses to enable it); a missing unit file is not found; every other
// state ("disabled", "static", "indirect", "linked", ...) is a file that is there but not
// enabled, so it requires approval. A manager that cannot be asked leaves it not registered.
//
// Registering enables the unit persistently, reloads the manager and starts the unit, stopping at
// the first refusal with systemd's (or polkit's) text, and never lets polkit prompt. Approving
// runs "systemctl enable --now" through the root shell: polkit authorises each manager call on
// its own, so asking through the bus would prompt up to three times where the root shell asks
// once.
//
// Runs on the Qt thread of the connection; completions come on that thread. Pending completions
// are dropped when the registration is destroyed.
class SystemdHelperRegistration final : public HelperRegistration {
public:
    static constexpr const char* kHelperUnit = "tarnwick-helper.socket";

    SystemdHelperRegistration(QDBusConnection bus, QString unit,
                              std::shared_ptr<PrivilegedShell> rootShell);
    SystemdHelperRegistration(const SystemdHelperRegistration&) = delete;
    SystemdHelperRegistration& operator=(const SystemdHelperRegistration&) = delete;

    void status(StatusCompletion completion) override;
    void registerService(Completion completion) override;
    void approve(Completion completion) override;

private:
    struct Step {
        QDBusMessage call;
        HelperRegistrationError::Code failure;
    };

    void enableAndStart(Completion completion);
    void run(std::deque<Step> steps, Completion completion);
    void send(const QDBusMessage& call, std::function<void(const QDBusMessage&)> answer);

    QDBusConnection bus_;
    const QString unit_;
    const std::shared_ptr<PrivilegedShell> rootShell_;
    // Parent of the pending calls; declared last so that it goes first.
    QObject context_;
};

}  // namespace tw
