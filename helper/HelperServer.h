#pragma once

#include <chrono>

#include "base/UniqueFd.h"
#include "helper/ConnectionLimits.h"
#include "helper/HelperConnection.h"

namespace tw {

// Accepts connections on the helper's listening socket and serves each on its own thread, so
// that one slow command holds up only its own client. Connections beyond the caps are refused
// on the accepting thread at once, without waiting on the peer.
class HelperServer {
  public:
    HelperServer(const HelperConnection::Services& services, ConnectionLimits::Caps caps)
        : services_(services), limits_(caps) {}

    // Runs until accepting fails for a reason that waiting cannot cure; the services must outlive
    // the process's connection threads.
    void run(int listener);

  private:
    void admit(UniqueFd connection);
    void refuse(UniqueFd connection, uid_t uid);
    void serveOnNewThread(UniqueFd connection, PeerCredentials peer,
                          std::unique_ptr<ConnectionLimits::Slot> slot);

    const HelperConnection::Services& services_;
    ConnectionLimits limits_;
    // A flood is logged once a second, not once a connection.
    std::chrono::steady_clock::time_point lastRefusalLog_{};
    std::size_t refusedSinceLog_ = 0;
};

}  // namespace tw
