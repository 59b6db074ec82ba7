#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tw {

// Where the packet-tunnel extension's NetworkManager registration lives on the system, and the
// programs that install it. Every field may be pointed elsewhere (the tests point them at the
// folders of a sandbox).
struct NmExtensionPaths {
    // Registrations NetworkManager reads, the first being where the approval installs one.
    std::vector<std::filesystem::path> registrationFolders = {"/etc/NetworkManager/VPN",
                                                              "/usr/lib/NetworkManager/VPN"};
    std::filesystem::path busPolicyFolder = "/etc/dbus-1/system.d";
    // The installed program; the extension's Info.json goes beside it.
    std::filesystem::path program = "/usr/libexec/tarnwick/packettunnel/tarnwick-packettunnel";
    // Runs its arguments as root once polkit has authorised it.
    std::string pkexec = "pkexec";
    // Makes the system bus read the new policy.
    std::string reloadBus =
        "dbus-send --system --type=method_call --dest=org.freedesktop.DBus / "
        "org.freedesktop.DBus.ReloadConfig";
};

}  // namespace tw
