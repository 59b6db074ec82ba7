#pragma once

#include <string>

namespace tw {

// What a shell command did: its exit status and what it wrote to standard output.
struct ShellResult {
    int status = -1;
    std::string output;
};

// Runs `command` with /bin/sh.
ShellResult shell(const std::string& command);

}  // namespace tw
