#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace tw {

// A dbus-daemon of the test's own, on a socket in a temporary folder and with a configuration of
// its own (no service activation), so that no test reaches the user's session bus. It points
// DBUS_SESSION_BUS_ADDRESS at itself for its lifetime: create it before the first use of
// QDBusConnection::sessionBus(). The destructor stops the daemon.
class PrivateSessionBus {
  public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const std::string& address() const { return address_; }

  private:
    void stop();

    TempDir dir_;
    pid_t pid_ = -1;
    std::string address_;
    std::optional<ScopedEnv> environment_;
};

}  // namespace tw
