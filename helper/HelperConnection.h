#pragma once

#include <chrono>
#include <string_view>

#include "base/UniqueFd.h"
#include "helper/HelperTool.h"
#include "helper/PeerAuthoriser.h"
#include "helper/PeerCredentials.h"
#include "helper/SessionRequestPolicy.h"
#include "helper/SystemLog.h"
#include "shared/HelperToolProtocol.h"

namespace tw {

// One client connection: decides what the peer may ask, then answers its request lines one after
// another, exactly one reply each, until the peer stops sending. An unauthorised peer gets one
// refusal at once and nothing of its is read.
class HelperConnection {
  public:
    // From waiting for a request to having its whole line, however slowly its bytes come: bounds
    // an idle peer and a trickling one alike.
    static constexpr std::chrono::seconds kRequestDeadline{10};
    // Bounds each send of a reply to a peer that does not take it.
    static constexpr std::chrono::seconds kSendTimeout{10};

    // What every connection uses; it outlives them all.
    struct Services {
        HelperTool& tool;
        const PeerAuthoriser& authoriser;
        const SessionRequestPolicy& sessionPolicy;
        SystemLog& log;
    };

    HelperConnection(UniqueFd socket, PeerCredentials peer, const Services& services)
        : socket_(std::move(socket)), peer_(std::move(peer)), services_(services) {}

    void serve();

  private:
    PeerAuthoriser::Access peerAccess();
    HelperToolProtocol::Reply replyTo(std::string_view line, PeerAuthoriser::Access access);
    HelperToolProtocol::Reply carryOut(const HelperToolProtocol::Request& request,
                                       PeerAuthoriser::Access access);
    bool send(const HelperToolProtocol::Reply& reply);

    UniqueFd socket_;
    const PeerCredentials peer_;
    const Services& services_;
};

}  // namespace tw
