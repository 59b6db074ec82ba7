#include "app/platform/linux/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include "app/platform/linux/FreedesktopApplicationAdaptor.h"

namespace tw {

namespace {

const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");
constexpr int kForwardTimeoutMs = 1000;

}  // namespace

SingleInstance::SingleInstance(QDBusConnection bus) : bus_(std::move(bus)) {
    new FreedesktopApplicationAdaptor(
        &exported_, {[this] { remoteActivation(); }, [this](const QStringList& uris) { open(uris); }});
}

SingleInstance::~SingleInstance() {
    if (!registered_) return;
    bus_.unregisterService(kServiceName);
    bus_.unregisterObject(kObjectPath);
}

SingleInstance::Role SingleInstance::claim(std::string& reason) {
    if (!bus_.isConnected()) {
        reason = "no session bus: " + bus_.lastError().message().toStdString();
        return Role::alone;
    }
    // Served before the name is taken, so that no call to the name finds nothing.
    if (!bus_.registerObject(kObjectPath, &exported_, QDBusConnection::ExportAdaptors)) {
        reason = "the object path is taken on this connection";
        return Role::alone;
    }
    registered_ = true;
    if (bus_.registerService(kServiceName)) return Role::primary;
    bus_.unregisterObject(kObjectPath);
    registered_ = false;
    if (bus_.interface()->isServiceRegistered(kServiceName)) return Role::secondary;
    reason = "the bus refused the name: " + bus_.lastError().message().toStdString();
    return Role::alone;
}

bool SingleInstance::forward(const std::string& url, std::string& error) {
    auto call = QDBusMessage::createMethodCall(kServiceName, kObjectPath, kApplicationInterface,
                                               url.empty() ? "Activate" : "Open");
    if (url.empty()) {
        call << QVariantMap();
    } else {
        call << QStringList{QString::fromStdString(url)} << QVariantMap();
    }
    const auto reply = bus_.call(call, QDBus::Block, kForwardTimeoutMs);
    if (reply.type() != QDBusMessage::ErrorMessage) return true;
    error = reply.errorMessage().toStdString();
    return false;
}

void SingleInstance::setUrlHandler(std::function<void(const std::string&)> handler) {
    urlHandler_ = std::move(handler);
    for (const auto& url : std::exchange(pendingUrls_, {})) urlHandler_(url);
}

Subscription SingleInstance::observeDidBecomeActive(std::function<void()> handler) {
    const int key = nextHandler_++;
    activeHandlers_[key] = std::move(handler);
    return Subscription([this, key] { activeHandlers_.erase(key); });
}

void SingleInstance::didBecomeActive() {
    // A handler may end its own subscription.
    const auto handlers = activeHandlers_;
    for (const auto& [key, handler] : handlers) handler();
}

void SingleInstance::open(const QStringList& uris) {
    for (const auto& uri : uris) {
        if (urlHandler_) {
            urlHandler_(uri.toStdString());
        } else {
            pendingUrls_.push_back(uri.toStdString());
        }
    }
    // The URL handler decides whether a link shows the panel.
    didBecomeActive();
}

void SingleInstance::remoteActivation() {
    didBecomeActive();
    if (onRemoteActivation) onRemoteActivation();
}

}  // namespace tw
