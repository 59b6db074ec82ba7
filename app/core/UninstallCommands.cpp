#include "app/core/UninstallCommands.h"

namespace tw {

std::vector<std::string> UninstallCommands::list(bool packageInstalled) {
    // pkill -x matches the kernel's process name, which is cut to 15 characters:
    // "tarnwick-packettunnel" runs as "tarnwick-packet".
    // The approval step installs the provider's registration and bus policy under /etc and, on an
    // install without the package, the provider program itself.
    const std::string approvedPolicy =
        packageInstalled ? "rm -f /etc/dbus-1/system.d/com.tarnwick.desktop.PacketTunnel.conf"
                         : "rm -rf /etc/dbus-1/system.d/com.tarnwick.desktop.PacketTunnel.conf "
                           "/usr/libexec/tarnwick/packettunnel";
    return {
        "pkill -x tarnwickd 2>/dev/null || true",
        "pkill -x tarnwick-helper 2>/dev/null || true",
        "pkill -x tarnwick-packet 2>/dev/null || true",
        "systemctl disable --now tarnwick-helper.socket 2>/dev/null || true",
        "systemctl stop tarnwick-helper.service 2>/dev/null || true",
        "rm -rf /var/lib/tarnwick",
        "rm -rf /etc/tarnwick",
        "rm -rf /var/log/tarnwickd",
        "rm -f /var/run/tarnwickd.socket",
        "rm -f /tmp/tarnwickd.log",
        "rm -f /etc/NetworkManager/VPN/com.tarnwick.desktop.PacketTunnel.name",
        approvedPolicy,
        "nmcli connection delete id Tarnwick 2>/dev/null || true",
        "nmcli connection delete id 'Tarnwick Debug' 2>/dev/null || true",
    };
}

std::string UninstallCommands::commandLine(bool packageInstalled) {
    std::string line;
    for (const auto& command : list(packageInstalled)) line += (line.empty() ? "" : "; ") + command;
    return line;
}

}  // namespace tw
