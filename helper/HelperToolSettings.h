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
};

}  // namespace tw
