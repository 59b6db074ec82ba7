#include "tests/platform/Nmcli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/platform/NmSandbox.h"

namespace tw {

std::string Nmcli::run(const std::string& arguments, bool mayFail) {
    // Never the host's NetworkManager.
    if (!NmSandbox::isInside()) {
        ADD_FAILURE() << "nmcli outside the sandbox: " << arguments;
        return "";
    }
    auto result = shell("nmcli " + arguments + " 2>&1");
    if (result.status != 0) {
        if (!mayFail) ADD_FAILURE() << "nmcli " << arguments << ": " << result.output;
        return "";
    }
    while (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
    return result.output;
}

std::string Nmcli::field(const std::string& uuid, const std::string& name) {
    return run("-g " + name + " connection show " + uuid);
}

std::vector<std::string> Nmcli::vpnProfiles() {
    std::vector<std::string> uuids;
    std::istringstream lines(run("-t -f TYPE,UUID connection show"));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("vpn:")) uuids.push_back(line.substr(4));
    }
    return uuids;
}

std::vector<std::string> Nmcli::vpnProfilesOf(const std::string& serviceType) {
    std::vector<std::string> matching;
    for (const auto& uuid : vpnProfiles()) {
        if (field(uuid, "vpn.service-type") == serviceType) matching.push_back(uuid);
    }
    return matching;
}

std::string Nmcli::addVpn(const std::string& name, const std::string& serviceType,
                          const std::string& extra) {
    const auto before = vpnProfiles();
    run("connection add type vpn con-name '" + name + "' vpn-type " + serviceType +
        " autoconnect no vpn.data 'server-address=localhost, disconnect-on-sleep=no, enabled=yes' " +
        extra);
    for (const auto& uuid : vpnProfiles()) {
        if (std::find(before.begin(), before.end(), uuid) == before.end()) return uuid;
    }
    return "";
}

}  // namespace tw
