#pragma once

#include <string_view>

#include "base/UniqueFd.h"
#include "helper/HelperTool.h"
#include "helper/PeerAuthoriser.h"
#include "helper/SystemLog.h"
#include "shared/HelperToolProtocol.h"

namespace tw {

// One client connection: identifies the peer, then answers its request lines one after another,
// exactly one reply each, until the peer stops sending. An unauthorised peer gets one refusal.
class HelperConnection {
  public:
    // Bounds the wait for the next request and for the peer to take a reply.
    static constexpr int kIdleTimeoutSeconds = 60;

    HelperConnection(UniqueFd socket, HelperTool& tool, const PeerAuthoriser& authoriser,
                     SystemLog& log)
        : socket_(std::move(socket)), tool_(tool), authoriser_(authoriser), log_(log) {}

    void serve();

  private:
    bool peerAllowed();
    HelperToolProtocol::Reply replyTo(std::string_view line);
    HelperToolProtocol::Reply carryOut(const HelperToolProtocol::Request& request);
    bool send(const HelperToolProtocol::Reply& reply);

    UniqueFd socket_;
    HelperTool& tool_;
    const PeerAuthoriser& authoriser_;
    SystemLog& log_;
};

}  // namespace tw
