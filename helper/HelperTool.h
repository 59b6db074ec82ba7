#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "helper/BundleExecutables.h"
#include "helper/ChildEnvironment.h"
#include "helper/ChildProcess.h"
#include "helper/HelperToolSettings.h"
#include "helper/SystemLog.h"

namespace tw {

// What the helper does for its clients: run the bundle's CLI and hand back its output, or start
// the node daemon detached. Every failure is reported in the returned text. Safe to call from
// several connection threads at once; daemon starts are serialised.
class HelperTool {
  public:
    // The PATH of every child process.
    static constexpr std::string_view kChildPath = "/usr/bin:/bin:/usr/sbin:/sbin:/usr/local/bin";
    // Pause after killing an orphaned daemon, so that it can release its socket.
    static constexpr std::chrono::milliseconds kOrphanPause{500};

    HelperTool(BundleExecutables executables, SystemLog& log, HelperToolSettings settings = {});

    bool pingWithReply() const { return true; }
    // Returns only once the work is done: for a command, after it closed its output.
    std::string runGoToolWithPath(const std::string& path,
                                  const std::vector<std::string>& arguments);

  private:
    std::string runGoTool(const std::string& path, const std::vector<std::string>& arguments);

    // Starting the daemon.
    std::string spawnDaemon(const std::string& path, const std::string& executable,
                            const std::vector<std::string>& arguments,
                            ChildEnvironment environment);
    void stopPreviousDaemon();
    void clearDaemonSocket(const ChildEnvironment& environment);
    void killOrphanedDaemon(const ChildEnvironment& environment);
    UniqueFd openDaemonLog();

    // Running a command.
    std::string runCommand(const std::string& path, const std::string& executable,
                           const std::vector<std::string>& arguments,
                           const ChildEnvironment& environment);
    std::string executionFailure(const std::string& path, int error);

    static bool canConnectUnixSocket(const std::string& path);

    const BundleExecutables executables_;
    SystemLog& log_;
    const HelperToolSettings settings_;

    std::mutex daemonStart_;  // held from stopping the previous daemon to starting the next
    // The daemon this instance last started; it may have exited since.
    std::optional<ChildProcess> tarnwickdProcess_;
};

}  // namespace tw
