#include "app/platform/linux/NmError.h"

#include <QStringList>

namespace tw {

namespace {

bool endsWithAny(const QString& name, const QStringList& suffixes) {
    for (const auto& suffix : suffixes) {
        if (name.endsWith(suffix)) return true;
    }
    return false;
}

std::string reasonText(uint reason) {
    switch (reason) {
        case 2: return "it was disconnected";
        case 3: return "the base connection went down";
        case 4: return "the VPN service stopped";
        case 5: return "the VPN service's IP configuration was invalid";
        case 6: return "the VPN service did not connect in time";
        case 7: return "the VPN service did not start in time";
        case 8: return "the VPN service failed to start";
        case 9: return "no valid secrets";
        case 10: return "the login failed";
        case 11: return "the profile was removed";
        case 12: return "a connection it depends on failed";
        default: return "no reason given";
    }
}

}  // namespace

VpnError NmError::fromDBus(const QDBusError& error, int otherCode) {
    const auto name = error.name();
    int code = otherCode;
    if (endsWithAny(name, {".InvalidConnection", ".InvalidSetting", ".InvalidProperty",
                           ".MissingSetting", ".MissingProperty"})) {
        code = VpnError::kConfigurationInvalid;
    } else if (name.endsWith(".ConnectionNotAvailable")) {
        code = VpnError::kConfigurationDisabled;
    }
    const auto text = error.message().isEmpty() ? name : error.message();
    return {code, name.toStdString(), text.toStdString()};
}

VpnError NmError::activationFailed(uint reason) {
    return {kConnectionFailed, kActivationDomain,
            "The VPN connection failed: " + reasonText(reason) + " (reason " +
                std::to_string(reason) + ")"};
}

VpnError NmError::notSaved() {
    return {VpnError::kConfigurationInvalid, kAdapterDomain, "The VPN configuration is not saved"};
}

VpnError NmError::disabled() {
    return {VpnError::kConfigurationDisabled, kAdapterDomain, "The VPN configuration is disabled"};
}

VpnError NmError::networkManagerGone() {
    return {kConnectionFailed, kAdapterDomain, "NetworkManager left the system bus"};
}

}  // namespace tw
