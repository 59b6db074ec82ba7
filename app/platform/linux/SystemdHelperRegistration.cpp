#include "app/platform/linux/SystemdHelperRegistration.h"

#include "app/platform/linux/PkexecShell.h"

#include <QDBusError>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QVariantList>

namespace tw {

namespace {

using Code = HelperRegistrationError::Code;

const QString kSystemdService = QStringLiteral("org.freedesktop.systemd1");
const QString kSystemdPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kSystemdManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
// Qt has no error type of its own for this one.
const QString kInteractiveAuthorizationRequired =
    QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired");

// Never lets polkit prompt: a call it would have to ask about is refused instead.
QDBusMessage managerCall(const QString& method, const QVariantList& arguments) {
    auto call = QDBusMessage::createMethodCall(kSystemdService, kSystemdPath,
                                               kSystemdManagerInterface, method);
    call.setArguments(arguments);
    call.setInteractiveAuthorizationAllowed(false);
    return call;
}

bool isError(const QDBusMessage& reply) { return reply.type() == QDBusMessage::ErrorMessage; }

// systemd answers a unit file it cannot find with ENOENT as a bus error, or with NoSuchUnit.
bool isMissingUnit(const QString& errorName) {
    return errorName == QLatin1String("org.freedesktop.DBus.Error.FileNotFound") ||
           errorName == QLatin1String("org.freedesktop.systemd1.NoSuchUnit");
}

HelperRegistrationStatus statusOfState(const QString& state) {
    if (state == QLatin1String("enabled") || state == QLatin1String("enabled-runtime")) {
        return HelperRegistrationStatus::enabled;
    }
    if (state == QLatin1String("masked") || state == QLatin1String("masked-runtime")) {
        return HelperRegistrationStatus::notFound;
    }
    return HelperRegistrationStatus::requiresApproval;
}

HelperRegistrationStatus statusOfReply(const QDBusMessage& reply) {
    if (isError(reply)) {
        return isMissingUnit(reply.errorName()) ? HelperRegistrationStatus::notFound
                                                : HelperRegistrationStatus::notRegistered;
    }
    if (reply.signature() != QLatin1String("s")) return HelperRegistrationStatus::notRegistered;
    return statusOfState(reply.arguments().constFirst().toString());
}

Code codeOf(Code step, const QDBusError& error) {
    switch (error.type()) {
        case QDBusError::ServiceUnknown:
        case QDBusError::NoReply:
        case QDBusError::NoServer:
        case QDBusError::Disconnected:
        case QDBusError::Timeout:
        case QDBusError::TimedOut:
            return Code::serviceManagerUnreachable;
        case QDBusError::AccessDenied:
            return Code::notAuthorized;
        default:
            return error.name() == kInteractiveAuthorizationRequired ? Code::notAuthorized : step;
    }
}

HelperRegistrationError failure(Code step, const QDBusMessage& reply) {
    const QDBusError error(reply);
    const auto detail = error.message().isEmpty() ? error.name() : error.message();
    return {codeOf(step, error), detail.toStdString()};
}

}  // namespace

SystemdHelperRegistration::SystemdHelperRegistration(QDBusConnection bus, QString unit,
                                                     std::shared_ptr<PrivilegedShell> rootShell)
    : bus_(std::move(bus)), unit_(std::move(unit)), rootShell_(std::move(rootShell)) {}

void SystemdHelperRegistration::status(StatusCompletion completion) {
    send(managerCall("GetUnitFileState", {unit_}),
         [completion = std::move(completion)](const QDBusMessage& reply) {
             completion(statusOfReply(reply));
         });
}

void SystemdHelperRegistration::registerService(Completion completion) {
    enableAndStart(std::move(completion));
}

void SystemdHelperRegistration::approve(Completion completion) {
    // systemctl enables, reloads and starts as root, with nothing left for polkit to ask.
    const auto commandLine = "systemctl enable --now " + PkexecShell::quoted(unit_.toStdString());
    rootShell_->runAsRoot(commandLine, [completion = std::move(completion)](
                                           std::expected<void, PrivilegedShell::Failure> result) {
        if (result) return completion({});
        completion(std::unexpected(HelperRegistrationError{
            result.error().dismissed ? Code::notAuthorized : Code::notEnabled,
            result.error().description}));
    });
}

void SystemdHelperRegistration::enableAndStart(Completion completion) {
    // As "systemctl enable --now": the reload makes the manager see the new links.
    run({{managerCall("EnableUnitFiles", {QStringList{unit_}, false, false}),
          Code::notEnabled},
         {managerCall("Reload", {}), Code::notReloaded},
         {managerCall("StartUnit", {unit_, QStringLiteral("replace")}),
          Code::notStarted}},
        std::move(completion));
}

void SystemdHelperRegistration::run(std::deque<Step> steps, Completion completion) {
    if (steps.empty()) return completion({});
    const auto step = steps.front();
    steps.pop_front();
    send(step.call, [this, failed = step.failure, rest = std::move(steps),
                     completion = std::move(completion)](const QDBusMessage& reply) {
        if (isError(reply)) return completion(std::unexpected(failure(failed, reply)));
        run(rest, completion);
    });
}

void SystemdHelperRegistration::send(const QDBusMessage& call,
                                     std::function<void(const QDBusMessage&)> answer) {
    if (!bus_.isConnected()) {
        // Qt fails such a call at once but never signals it: answer it later, as any other.
        const auto reply =
            QDBusMessage::createError(QDBusError::Disconnected, "Not connected to D-Bus");
        QMetaObject::invokeMethod(
            &context_, [answer = std::move(answer), reply] { answer(reply); },
            Qt::QueuedConnection);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), &context_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_,
                     [watcher, answer = std::move(answer)] {
                         watcher->deleteLater();
                         answer(watcher->reply());
                     });
}

}  // namespace tw
