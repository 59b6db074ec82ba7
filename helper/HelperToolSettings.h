#pragma once

#include <chrono>
#include <string>

namespace tw {

// The fixed places and times of HelperTool; tests point them at temporary files.
struct HelperToolSettings {
    std::string daemonSocket = "/var/run/tarnwickd.socket";
    std::string daemonLog = "/tmp/tarnwickd.log";
    std::string pkill = "/usr/bin/pkill";
    // How long a previous daemon has to exit after SIGTERM before it gets SIGKILL.
    std::chrono::milliseconds daemonStopTimeout = std::chrono::seconds(5);
    // How long a command may run before it and what it started are killed, so that a command
    // whose output never closes cannot hold a connection and its thread for good.
    std::chrono::milliseconds commandTimeout = std::chrono::seconds(30);
};

}  // namespace tw
