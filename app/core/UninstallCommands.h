#pragma once

#include <string>
#include <vector>

namespace tw {

// The root cleanup of an uninstall: one command per thing the system put in place outside the
// application, run in order whatever the previous one did. Commands that may fail harmlessly hide
// their errors and end in "|| true"; removals of files need neither.
class UninstallCommands {
public:
    // The package manager owns the files of a package install: they stay for it to remove, and
    // only runtime state and what the application itself installed go.
    static std::vector<std::string> list(bool packageInstalled);
    // The commands joined with "; ", for one `/bin/sh -c`.
    static std::string commandLine(bool packageInstalled);
};

}  // namespace tw
