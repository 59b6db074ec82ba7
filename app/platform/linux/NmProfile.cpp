#include "app/platform/linux/NmProfile.h"

#include <QDBusArgument>
#include <QDBusMetaType>

namespace tw {

namespace {

std::optional<QString> optionalString(const QVariantMap& setting, const QString& key) {
    const auto value = setting.value(key);
    if (!value.isValid()) return std::nullopt;
    return value.toString();
}

QMap<QString, QString> stringMap(const QVariant& value) {
    QMap<QString, QString> map;
    if (value.canConvert<QDBusArgument>()) {
        qvariant_cast<QDBusArgument>(value) >> map;
    } else {
        map = qvariant_cast<QMap<QString, QString>>(value);
    }
    return map;
}

QString yesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

NmProfile NmProfile::fromSettings(const NmConnectionSettings& settings) {
    const auto connection = settings.value("connection");
    const auto vpn = settings.value("vpn");
    NmProfile profile;
    profile.uuid = connection.value("uuid").toString();
    profile.type = connection.value("type").toString();
    profile.id = optionalString(connection, "id");
    profile.serviceType = optionalString(vpn, "service-type");
    profile.vpnData = stringMap(vpn.value("data"));
    return profile;
}

NmProfile NmProfile::newVpn(QString uuid) {
    NmProfile profile;
    profile.uuid = std::move(uuid);
    profile.type = "vpn";
    return profile;
}

std::optional<TunnelProtocol> NmProfile::protocol() const {
    if (!isVpn() || (!serviceType && vpnData.isEmpty())) return std::nullopt;
    TunnelProtocol protocol;
    if (serviceType) protocol.providerBundleIdentifier = serviceType->toStdString();
    if (vpnData.contains("server-address")) {
        protocol.serverAddress = vpnData.value("server-address").toStdString();
    }
    protocol.disconnectOnSleep = vpnData.value("disconnect-on-sleep") == "yes";
    return protocol;
}

void NmProfile::setProtocol(const TunnelProtocol& protocol) {
    serviceType.reset();
    if (protocol.providerBundleIdentifier) {
        serviceType = QString::fromStdString(*protocol.providerBundleIdentifier);
    }
    vpnData.remove("server-address");
    if (protocol.serverAddress) {
        vpnData["server-address"] = QString::fromStdString(*protocol.serverAddress);
    }
    vpnData["disconnect-on-sleep"] = yesNo(protocol.disconnectOnSleep);
}

void NmProfile::setEnabled(bool enabled) { vpnData["enabled"] = yesNo(enabled); }

NmConnectionSettings NmProfile::toSettings(const NmConnectionSettings& base,
                                           const QString& owner) const {
    qDBusRegisterMetaType<QMap<QString, QString>>();
    auto settings = base;
    auto& connection = settings["connection"];
    if (base.isEmpty()) {
        connection["autoconnect"] = false;
        connection["permissions"] = QStringList{"user:" + owner + ":"};
        settings["ipv4"]["method"] = "auto";
    }
    connection["uuid"] = uuid;
    connection["type"] = type;
    if (id) {
        connection["id"] = *id;
    } else {
        connection.remove("id");
    }
    auto& vpn = settings["vpn"];
    if (serviceType) {
        vpn["service-type"] = *serviceType;
    } else {
        vpn.remove("service-type");
    }
    vpn["data"] = QVariant::fromValue(vpnData);
    return settings;
}

}  // namespace tw
