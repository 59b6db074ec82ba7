#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "shared/HelperToolProtocol.h"
#include "tests/support/TempDir.h"

namespace tw {

// The real tarnwick-helper binary, run on a temporary socket with a bundle of fake executables,
// temporary daemon socket and log paths, a fake pkill, and its system log in a file. Nothing it
// does reaches the host's bus, /run, /var/run or /tmp/tarnwickd.log.
//
// The fake CLI `tarnwick` answers by its first argument: "empty" (prints nothing), "latin1 N"
// (prints bytes that are not UTF-8 and exits N), "text-then-fail", "merged" (stdout and stderr
// interleaved), "env", "big" (more than a reply can carry), "touch" (creates touched()), "hang"
// (never closes its output); anything else prints "tarnwick <arguments>".
//
// TW_HELPER_UNDER_TEST names another helper binary to run instead of the build's, to measure an
// older build with the same tests. The fake daemon `tarnwickd` prints "tarnwickd help:
// <arguments>" unless its first argument is "up"; then it records itself as running, prints its
// arguments and environment and runs until SIGTERM, which it ignores when given --ignore-term.
class RunningHelper {
  public:
    static constexpr auto kPatience = std::chrono::seconds(10);  // only against hangs

    RunningHelper();
    ~RunningHelper();
    RunningHelper(const RunningHelper&) = delete;
    RunningHelper& operator=(const RunningHelper&) = delete;

    // The helper binary the tests run.
    static std::string binary();

    // Starts the helper and waits until it accepts connections. `busAddress` becomes its
    // DBUS_SYSTEM_BUS_ADDRESS; by default a socket that does not exist.
    void start(const std::vector<std::string>& extraArguments = {}, std::string busAddress = {});

    const TempDir& dir() const { return dir_; }
    pid_t pid() const { return pid_; }
    const std::string& socket() const { return socket_; }
    void setSocket(std::string path) { socket_ = std::move(path); }
    // Runs a copy of the helper installed in a prefix inside dir(), whose bundle holds the fake
    // executables, without --resources.
    void setInstalled() { installed_ = true; }
    // Runs the helper under systemd-socket-activate, which listens on socket() and hands the
    // socket over as systemd does; the helper's own --socket then names unboundSocket().
    void setActivated() { activated_ = true; }
    std::string unboundSocket() const { return dir_.file("unbound.sock"); }
    static constexpr const char* kSocketActivate = "/usr/bin/systemd-socket-activate";
    std::string cli() const { return dir_.file("Resources/tarnwick"); }
    std::string daemon() const { return dir_.file("Resources/tarnwickd"); }
    std::string daemonSocket() const { return dir_.file("tarnwickd.socket"); }
    std::string daemonLog() const { return dir_.file("tarnwickd.log"); }
    std::string touched() const { return dir_.file("touched"); }

    // One request on a fresh connection; the reply text, or a description of another reply.
    std::string run(const std::string& path, const std::vector<std::string>& arguments) const;
    HelperToolProtocol::Reply request(const HelperToolProtocol::Request& request) const;
    // Writes `bytes` on one connection (then, if asked, stops sending) and reads reply lines
    // until the helper closes the connection or `count` lines arrived.
    std::vector<std::string> exchange(const std::string& bytes, std::size_t count,
                                      bool halfClose = false) const;
    // Sends one request line as another user (from a forked child) and returns the reply line.
    std::string exchangeAs(uid_t uid, const std::vector<gid_t>& groups,
                           const std::string& line) const;

    std::vector<std::string> systemLog() const;
    std::size_t systemLogCount(const std::string& line) const;
    // Pids of "spawned tarnwickd" records, in order.
    std::vector<pid_t> spawnedDaemons() const;
    // Pids of fake daemons that are up and have not been told to stop.
    std::vector<pid_t> runningDaemons() const;
    std::vector<std::string> pkillCalls() const;
    // What the helper itself wrote to its standard output and error.
    std::string helperOutput() const;

    static std::string contents(const std::string& path);
    static std::vector<std::string> lines(const std::string& path);
    static bool waitUntil(const std::function<bool()>& condition);

  private:
    void writeBundle() const;
    std::vector<std::string> arguments(const std::vector<std::string>& extra) const;
    std::string install() const;
    // The program to start and its arguments.
    std::pair<std::string, std::vector<std::string>> command(
        const std::vector<std::string>& extra) const;
    void stopDaemons() const;
    // Waits for every child of this process in the process group (after the helper is gone, its
    // orphans are children of this process).
    static void reapGroup(pid_t group);

    TempDir dir_;
    std::string socket_ = dir_.file("helper.sock");
    bool installed_ = false;
    bool activated_ = false;
    pid_t pid_ = -1;
};

}  // namespace tw
