#pragma once

#include <expected>
#include <string>

#include "base/UniqueFd.h"

namespace tw {

// The helper's listening socket.
class HelperListener {
  public:
    // The socket systemd passed when it started the helper on demand; without one (LISTEN_FDS
    // unset), a socket bound at `path`: its folder created, a stale socket file replaced, and its
    // mode 0666 so that every local user can connect (access is decided per peer). Clears the
    // LISTEN_* variables so that no child inherits them; call before starting threads.
    static std::expected<UniqueFd, std::string> open(const std::string& path);
};

}  // namespace tw
