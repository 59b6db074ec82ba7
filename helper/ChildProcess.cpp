#include "helper/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

namespace tw {

namespace {

using namespace std::chrono_literals;

std::vector<char*> pointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// Owns the attribute and file-action objects of one spawn.
class SpawnSetup {
  public:
    explicit SpawnSetup(const ChildProcess::Options& options) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
        if (options.output >= 0) {
            ::posix_spawn_file_actions_adddup2(&actions_, options.output, STDOUT_FILENO);
            ::posix_spawn_file_actions_adddup2(&actions_, options.output, STDERR_FILENO);
        }
        // The helper's own dispositions (an ignored SIGPIPE, say) must not leak into children.
        sigset_t all;
        sigset_t none;
        ::sigfillset(&all);
        ::sigemptyset(&none);
        ::posix_spawnattr_setsigdefault(&attributes_, &all);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
        if (options.newSession) flags |= POSIX_SPAWN_SETSID;
        if (options.newProcessGroup) {
            flags |= POSIX_SPAWN_SETPGROUP;
            ::posix_spawnattr_setpgroup(&attributes_, 0);
        }
        ::posix_spawnattr_setflags(&attributes_, flags);
    }
    ~SpawnSetup() {
        ::posix_spawnattr_destroy(&attributes_);
        ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace

std::expected<ChildProcess, int> ChildProcess::launch(const std::string& path,
                                                      const std::vector<std::string>& arguments,
                                                      const ChildEnvironment& environment,
                                                      Options options) {
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto argvPointers = pointersTo(argv);
    const auto environmentPointers = pointersTo(environment.entries());
    const SpawnSetup setup(options);
    pid_t pid = 0;
    // glibc reports a failed exec here too, not only a failed fork.
    const int error = ::posix_spawn(&pid, path.c_str(), setup.actions(), setup.attributes(),
                                    argvPointers.data(), environmentPointers.data());
    if (error != 0) return std::unexpected(error);
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), reaped_(std::exchange(other.reaped_, true)), status_(other.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    pid_ = other.pid_;
    reaped_ = std::exchange(other.reaped_, true);
    status_ = other.status_;
    return *this;
}

bool ChildProcess::waitOnce(int flags) {
    int waitStatus = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &waitStatus, flags);
    } while (result < 0 && errno == EINTR);
    if (result == 0) return false;
    reaped_ = true;
    if (result != pid_) {
        status_ = kUnknownStatus;
    } else if (WIFSIGNALED(waitStatus)) {
        status_ = WTERMSIG(waitStatus);
    } else {
        status_ = WEXITSTATUS(waitStatus);
    }
    return true;
}

bool ChildProcess::isRunning() { return !reaped_ && !waitOnce(WNOHANG); }

void ChildProcess::terminate() const {
    if (!reaped_) ::kill(pid_, SIGTERM);
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (isRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

void ChildProcess::kill() {
    if (reaped_) return;
    ::kill(pid_, SIGKILL);
    exitStatus();
}

void ChildProcess::killGroup() {
    if (reaped_) return;
    ::kill(-pid_, SIGKILL);
    exitStatus();
}

int ChildProcess::exitStatus() {
    if (!reaped_) waitOnce(0);
    return status_;
}

void ChildProcess::reapInBackground() {
    if (reaped_) return;
    try {
        std::thread([pid = pid_] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        reaped_ = true;
    } catch (const std::system_error&) {
        // No thread to spare: the zombie stays until the helper exits.
    }
}

}  // namespace tw
