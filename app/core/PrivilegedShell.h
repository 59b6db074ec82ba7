#pragma once

#include <expected>
#include <functional>
#include <string>

namespace tw {

// Runs one shell command line as root once an administrator has allowed it; the system may prompt
// the user meanwhile.
class PrivilegedShell {
public:
    struct Failure {
        // The prompt was dismissed or the authorisation refused, rather than a failure to run.
        bool dismissed = false;
        std::string description;
    };
    using Completion = std::function<void(std::expected<void, Failure>)>;

    virtual ~PrivilegedShell() = default;

    // Completes exactly once, on any thread: done when the command line ran (whatever its
    // commands did), else why not — the prompt dismissed, authorisation refused, or the command
    // line could not be started.
    virtual void runAsRoot(const std::string& commandLine, Completion completion) = 0;
};

}  // namespace tw
