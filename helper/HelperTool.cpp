#include "helper/HelperTool.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "base/UnixSocket.h"
#include "helper/DaemonLogFile.h"
#include "helper/PosixError.h"
#include "shared/HelperToolProtocol.h"

namespace tw {

namespace {

using namespace std::chrono_literals;

std::string joined(const std::vector<std::string>& texts) {
    std::string text;
    for (std::size_t index = 0; index < texts.size(); ++index) {
        if (index > 0) text += ' ';
        text += texts[index];
    }
    return text;
}

struct Output {
    std::string bytes;
    bool overflowed = false;  // more than a reply can carry; the rest was read and dropped
    bool timedOut = false;    // the output was still open at the deadline
};

// Whether `fd` became readable (or closed) before the deadline.
bool readableBy(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        return ready != 0;
    }
}

// Reads to end of file or the deadline. Past the cap it keeps draining, so that the child never
// blocks on a full pipe, but stops keeping the bytes.
Output readToEnd(int fd, std::chrono::steady_clock::time_point deadline) {
    Output output;
    char chunk[64 * 1024];
    for (;;) {
        if (!readableBy(fd, deadline)) {
            output.timedOut = true;
            return output;
        }
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return output;
        const auto size = static_cast<std::size_t>(count);
        if (output.bytes.size() + size > HelperToolProtocol::kMaxReplyTextBytes) {
            output.overflowed = true;
        }
        if (!output.overflowed) output.bytes.append(chunk, size);
    }
}

}  // namespace

HelperTool::HelperTool(BundleExecutables executables, SystemLog& log, HelperToolSettings settings)
    : executables_(std::move(executables)), log_(log), settings_(std::move(settings)) {}

std::string HelperTool::runGoToolWithPath(const std::string& path,
                                          const std::vector<std::string>& arguments) {
    return runGoTool(path, arguments);
}

std::string HelperTool::runGoTool(const std::string& path,
                                  const std::vector<std::string>& arguments) {
    ChildEnvironment environment = ChildEnvironment::ofThisProcess();
    environment.set("PATH", kChildPath);
    log_.notice("call tarnwick helper tool: " + path + " " + joined(arguments));
    // Before anything else: a refused path must not even stop a running daemon.
    const auto match = executables_.resolve(path);
    if (!match) return executionFailure(path, match.error());
    // Chosen by what the path resolves to, not by its name: a link named "tarnwick" to the
    // daemon must not run "up" synchronously and wait forever for its output to close.
    const bool startsDaemon = match->kind == BundleExecutables::Kind::daemon &&
                              !arguments.empty() && arguments.front() == "up";
    if (startsDaemon) return spawnDaemon(path, match->executable, arguments, environment);
    return runCommand(path, match->executable, arguments, environment);
}

// --- daemon path ---

std::string HelperTool::spawnDaemon(const std::string& path, const std::string& executable,
                                    const std::vector<std::string>& arguments,
                                    ChildEnvironment environment) {
    // Without this, two starts could both find no daemon and start one each.
    const std::lock_guard lock(daemonStart_);
    stopPreviousDaemon();
    tarnwickdProcess_.reset();
    clearDaemonSocket(environment);
    environment.set("TW_SKIP_RUNNING_CHECK", "1");
    const UniqueFd logFile = openDaemonLog();
    auto child = ChildProcess::launch(executable, arguments, environment,
                                      {.output = logFile.get(), .newSession = true});
    if (!child) {
        const PosixError error(child.error(), path);
        log_.notice("Error spawning tarnwickd: " + error.localizedDescription());
        return "Error spawning tarnwickd: " + error.fullDescription();
    }
    log_.notice("spawned tarnwickd up (non-blocking), pid: " + std::to_string(child->pid()) +
                ". logging to " + settings_.daemonLog);
    tarnwickdProcess_ = std::move(*child);
    return "spawned";
}

void HelperTool::stopPreviousDaemon() {
    if (!tarnwickdProcess_ || !tarnwickdProcess_->isRunning()) return;
    const std::string pid = std::to_string(tarnwickdProcess_->pid());
    log_.notice("Terminating existing tarnwickd process (pid: " + pid + ")");
    tarnwickdProcess_->terminate();
    if (tarnwickdProcess_->waitForExit(settings_.daemonStopTimeout)) return;
    log_.notice("tarnwickd (pid: " + pid + ") still running " +
                std::to_string(settings_.daemonStopTimeout.count()) +
                " ms after SIGTERM; sending SIGKILL");
    tarnwickdProcess_->kill();
}

void HelperTool::clearDaemonSocket(const ChildEnvironment& environment) {
    const std::string& socket = settings_.daemonSocket;
    struct stat status {};
    if (::lstat(socket.c_str(), &status) != 0) return;
    if (canConnectUnixSocket(socket)) killOrphanedDaemon(environment);
    if (::unlink(socket.c_str()) == 0) {
        log_.notice("Removed socket file: " + socket);
    } else {
        log_.notice("Failed to remove socket file: " +
                    PosixError(errno, socket).localizedDescription());
    }
}

// A daemon started before this helper instance, which it cannot stop by its process handle.
void HelperTool::killOrphanedDaemon(const ChildEnvironment& environment) {
    log_.notice("Orphaned tarnwickd detected via live socket; sending SIGTERM");
    if (auto pkill = ChildProcess::launch(settings_.pkill, {"-x", "tarnwickd"}, environment, {})) {
        pkill->exitStatus();
    }
    std::this_thread::sleep_for(kOrphanPause);
}

UniqueFd HelperTool::openDaemonLog() {
    auto file = DaemonLogFile::open(settings_.daemonLog);
    if (!file) {
        log_.notice("Not redirecting tarnwickd output to " + settings_.daemonLog + ": " +
                    file.error());
        return {};
    }
    DaemonLogFile::writeHeader(file->get(), std::chrono::system_clock::now());
    return std::move(*file);
}

// A connect that a listener with a full backlog would block forever is bounded.
bool HelperTool::canConnectUnixSocket(const std::string& path) {
    return UnixSocket::connect(path, 1s).has_value();
}

// --- command path ---

std::string HelperTool::runCommand(const std::string& path, const std::string& executable,
                                   const std::vector<std::string>& arguments,
                                   const ChildEnvironment& environment) {
    int ends[2];
    // Close-on-exec, or a child started meanwhile by another connection would hold the write end
    // and this read would never see end of file.
    if (::pipe2(ends, O_CLOEXEC) != 0) return executionFailure(path, errno);
    const UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    auto child = ChildProcess::launch(executable, arguments, environment,
                                      {.output = writeEnd.get(), .newProcessGroup = true});
    writeEnd.reset();
    if (!child) return executionFailure(path, child.error());
    const Output output =
        readToEnd(readEnd.get(), std::chrono::steady_clock::now() + settings_.commandTimeout);
    if (output.timedOut) {
        child->killGroup();
        const std::string text = "Binary execution timed out after " +
                                 std::to_string(settings_.commandTimeout.count()) +
                                 " ms and was killed";
        log_.notice(text);
        return text;
    }
    if (!output.overflowed && HelperToolProtocol::isText(output.bytes)) {
        child->reapInBackground();
        return output.bytes;
    }
    const int status = child->exitStatus();
    const std::string text = status == 0
                                 ? std::string("Binary executed successfully")
                                 : "Binary execution failed with status: " + std::to_string(status);
    log_.notice(text);
    return text;
}

std::string HelperTool::executionFailure(const std::string& path, int error) {
    const PosixError failure(error, path);
    log_.notice("Error executing binary: " + failure.localizedDescription());
    return "Error executing binary: " + failure.fullDescription();
}

}  // namespace tw
