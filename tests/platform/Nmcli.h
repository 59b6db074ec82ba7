#pragma once

#include <string>
#include <vector>

namespace tw {

// NetworkManager as the rest of the desktop sees it: nmcli on the sandbox's bus, for changing
// profiles "from outside" and for reading what the adapter wrote.
struct Nmcli {
    // `nmcli ARGUMENTS`; its output, or the empty text when it failed (with the failure recorded
    // as a test failure unless `mayFail`).
    static std::string run(const std::string& arguments, bool mayFail = false);
    // One field of a profile, as `nmcli -g` prints it.
    static std::string field(const std::string& uuid, const std::string& name);
    // UUIDs of the VPN profiles, in nmcli's order.
    static std::vector<std::string> vpnProfiles();
    // UUIDs of the VPN profiles of `serviceType`.
    static std::vector<std::string> vpnProfilesOf(const std::string& serviceType);
    // Adds a VPN profile of `serviceType` the way a user would; its UUID.
    static std::string addVpn(const std::string& name, const std::string& serviceType,
                              const std::string& extra = "");
};

}  // namespace tw
