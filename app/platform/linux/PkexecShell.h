#pragma once

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
    // Asks a script still running (and its prompt) to end, without waiting: its thread ends it
    // within a moment and then ends too, without calling the completion.
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

    // Shared by the shell and the thread of its current script, which may outlive the shell.
    struct Script {
        std::atomic<bool> running = true;
        std::atomic<bool> stopping = false;
    };

    static void execute(const std::string& pkexec, const std::string& script, Script& state,
                        const Completion& completion);

    const std::string pkexec_;
    std::mutex mutex_;
    std::shared_ptr<Script> current_;
};

}  // namespace tw
