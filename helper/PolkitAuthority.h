#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tw {

// Asks polkit over the system bus whether a process may perform an action, without interaction
// (CheckAuthorization with flags 0). The system bus is the one sd-bus finds, so
// DBUS_SYSTEM_BUS_ADDRESS selects another.
class PolkitAuthority {
  public:
    static constexpr std::string_view kHelperAction = "com.tarnwick.desktop.helper.control";

    explicit PolkitAuthority(std::chrono::milliseconds timeout) : timeout_(timeout) {}

    // False when polkit says no, and also when the bus or polkit is missing, the process is gone
    // or no answer arrives within the timeout.
    bool authorises(pid_t pid, uid_t uid, std::string_view action) const;

    // Field 22 of /proc/<pid>/stat, which polkit uses to tell a process from a later one with the
    // same id.
    static std::optional<unsigned long long> startTime(pid_t pid);

  private:
    std::chrono::milliseconds timeout_;
};

}  // namespace tw
