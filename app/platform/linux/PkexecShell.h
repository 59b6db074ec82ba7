#pragma once

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/core/PrivilegedShell.h"

namespace tw {

// Runs a shell script as root once polkit has authorised it: `pkexec /bin/sh -c SCRIPT`, on a
// thread of its own, one script at a time. The polkit agent may prompt the user meanwhile.
class PkexecShell final : public PrivilegedShell {
public:
    enum class Outcome {
        done,
        // The user dismissed the prompt (pkexec's 126).
        dismissed,
        // Anything else, pkexec's 127 included: not authorised, no authentication agent, or the
        // script itself failed with that status.
        failed,
    };
    struct Result {
        Outcome outcome = Outcome::failed;
        int exitCode = -1;
        std::string errorOutput;  // the end of the script's standard error
    };
    using Completion = std::function<void(Result)>;

    explicit PkexecShell(std::string pkexec);
    // Ends a script still running (and its prompt) and waits for the thread.
    ~PkexecShell() override;
    PkexecShell(const PkexecShell&) = delete;
    PkexecShell& operator=(const PkexecShell&) = delete;

    // False when pkexec cannot be found; true once the script runs, or when one runs already
    // (then `completion` is dropped: the running one reports). `completion` is called on the
    // shell's thread.
    bool run(const std::string& script, Completion completion);

    // The same, completing exactly once: a second command line while one runs, or no pkexec,
    // fails at once.
    void runAsRoot(const std::string& commandLine, PrivilegedShell::Completion completion) override;

    // Single-quoted for the shell.
    static std::string quoted(const std::string& text);

private:
    enum class Start { started, busy, missing };
    Start start(const std::string& script, Completion completion);
    void execute(const std::string& script, const Completion& completion);

    const std::string pkexec_;
    std::mutex mutex_;
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> stopping_ = false;
};

}  // namespace tw
