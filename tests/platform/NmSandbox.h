#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "tests/platform/ShellResult.h"

namespace tw {

// The NetworkManager sandbox the process-level tests run in (tests/support/nm-sandbox): the test
// program re-executes itself inside it, so that the tests talk to a real NetworkManager on a
// private system bus (DBUS_SYSTEM_BUS_ADDRESS) in namespaces of their own.
class NmSandbox {
public:
    // Why the sandbox cannot be made on this machine (not root, no NetworkManager, no
    // namespaces); nothing when it can.
    static std::optional<std::string> unavailableReason();
    // True inside the sandbox.
    static bool isInside();
    // Replaces the process with itself inside the sandbox; returns only when that failed.
    static void reexecInside(int argc, char** argv);

    // Inside: the sandbox's folder (see the script) and the plugin registration folder of the
    // package (/usr/lib/NetworkManager/VPN, a folder of the sandbox's).
    static std::filesystem::path directory();
    static std::filesystem::path packageRegistrations() { return "/usr/lib/NetworkManager/VPN"; }
    // Stops the sandbox's NetworkManager and waits until it has left the bus; starts it again and
    // waits until the base connection is up.
    static bool stopNetworkManager();
    static bool startNetworkManager();
    // Ends the plugin process NetworkManager started, if one runs, and waits until its bus name
    // is free: it stays for NetworkManager's next connect, and the next test wants a fresh one.
    static void endPlugin();
    // How many lines of NetworkManager's log (where the plugin's standard error goes too)
    // contain `text`.
    static int logCount(const std::string& text);
    // The end of NetworkManager's log, for failure messages.
    static std::string logTail();
};

}  // namespace tw
