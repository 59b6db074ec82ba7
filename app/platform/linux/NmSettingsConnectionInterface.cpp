#include "app/platform/linux/NmSettingsConnectionInterface.h"

#include "app/platform/linux/NmService.h"

namespace tw {

namespace {

const QString kSettingsConnectionInterface = "org.freedesktop.NetworkManager.Settings.Connection";

}  // namespace

QDBusMessage NmSettingsConnectionInterface::call(const QString& path, const QString& method) const {
    return QDBusMessage::createMethodCall(NmService::kName, path, kSettingsConnectionInterface,
                                          method);
}

QDBusPendingReply<NmConnectionSettings> NmSettingsConnectionInterface::getSettings(
    const QString& path) const {
    return bus_.asyncCall(call(path, "GetSettings"));
}

QDBusPendingReply<> NmSettingsConnectionInterface::update(const QString& path,
                                                          const NmConnectionSettings& settings) const {
    auto message = call(path, "Update");
    message << QVariant::fromValue(settings);
    return bus_.asyncCall(message);
}

QDBusPendingReply<> NmSettingsConnectionInterface::remove(const QString& path) const {
    return bus_.asyncCall(call(path, "Delete"));
}

void NmSettingsConnectionInterface::subscribeUpdated(QObject* receiver, const char* slot) const {
    auto bus = bus_;
    // Any path: every profile's updates.
    bus.connect(NmService::kName, "", kSettingsConnectionInterface, "Updated", receiver, slot);
}

}  // namespace tw
