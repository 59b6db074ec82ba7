#pragma once

#include <chrono>
#include <expected>
#include <string>

#include "base/UniqueFd.h"

namespace tw {

// The file that receives the daemon's standard output and standard error. It lives in a folder
// every user can write to, so it is opened without following a symlink and used only when it is
// a regular file of root's (or, for a helper not run as root, of its own user's) with one link.
class DaemonLogFile {
  public:
    // Opens (creating it 0644) for appending. Otherwise the reason, for the system log.
    static std::expected<UniqueFd, std::string> open(const std::string& path);

    // "--- tarnwickd started at YYYY-MM-DD HH:MM:SS +0000 ---\n", in UTC.
    static std::string header(std::chrono::system_clock::time_point now);

    // Appends the header; a failed write is not an error worth stopping the start for.
    static void writeHeader(int fd, std::chrono::system_clock::time_point now);
};

}  // namespace tw
