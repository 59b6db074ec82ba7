#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <string>
#include <vector>

#include "helper/ChildEnvironment.h"

namespace tw {

// A child process started with posix_spawn. Whoever holds it reaps it exactly once: by
// isRunning() noticing the exit, exitStatus(), kill() or reapInBackground(), so that no zombie
// is left behind.
class ChildProcess {
  public:
    struct Options {
        int output = -1;          // becomes standard output and standard error when >= 0
        bool newSession = false;  // detach from the helper's session and process group
        bool newProcessGroup = false;  // lead a process group of its own, for killGroup()
    };

    // Runs `path` with argv = path + arguments. The child starts with every signal at its default
    // action and none blocked; descriptors other than 0, 1 and 2 are close-on-exec throughout the
    // helper, so it inherits nothing else. errno of the failed spawn or exec on failure.
    static std::expected<ChildProcess, int> launch(const std::string& path,
                                                   const std::vector<std::string>& arguments,
                                                   const ChildEnvironment& environment,
                                                   Options options);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() = default;

    pid_t pid() const { return pid_; }
    // Reaps the child if it has exited.
    bool isRunning();
    void terminate() const;
    // Whether it exited (and was reaped) within `timeout`.
    bool waitForExit(std::chrono::milliseconds timeout);
    // SIGKILL, then waits for the exit.
    void kill();
    // SIGKILL to the child's whole process group (it was launched with newProcessGroup), so that
    // what it started goes too, then waits for the child's exit. Call before reaping the child:
    // until then its id, and so the group's, cannot be reused.
    void killGroup();
    // Reported when the exit could not be observed (the child was reaped elsewhere).
    static constexpr int kUnknownStatus = -1;

    // Waits for the exit: the exit code, the number of the signal that ended it, or
    // kUnknownStatus.
    int exitStatus();
    // Lets a background thread wait for the exit, for a child whose status nobody needs.
    void reapInBackground();

  private:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    // One waitpid; whether the child has been reaped.
    bool waitOnce(int flags);

    pid_t pid_;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace tw
