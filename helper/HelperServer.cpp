#include "helper/HelperServer.h"

#include <sys/socket.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "helper/PosixError.h"
#include "shared/HelperToolProtocol.h"

namespace tw {

namespace {

using namespace std::chrono_literals;

// Failures of one accept that leave the listener usable.
bool isPassing(int error) {
    switch (error) {
        case EINTR:
        case ECONNABORTED:
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
        case EPROTO:
            return true;
        default:
            return false;
    }
}

}  // namespace

void HelperServer::run(int listener) {
    for (;;) {
        UniqueFd connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        if (connection) {
            admit(std::move(connection));
            continue;
        }
        const int error = errno;
        if (!isPassing(error)) {
            services_.log.notice("Stopped accepting connections: " +
                                 PosixError(error, "").localizedDescription());
            return;
        }
        // Out of descriptors or memory: give running connections a moment to finish.
        if (error != EINTR) std::this_thread::sleep_for(100ms);
    }
}

void HelperServer::admit(UniqueFd connection) {
    auto peer = PeerCredentials::of(connection.get());
    if (!peer) {
        services_.log.notice("Refused a connection whose peer is unknown: " +
                             PosixError(peer.error(), "").localizedDescription());
        return;
    }
    auto slot = limits_.admit(peer->uid);
    if (!slot) {
        refuse(std::move(connection), peer->uid);
        return;
    }
    serveOnNewThread(std::move(connection), std::move(*peer), std::move(slot));
}

// Never waits: the reply fits in an empty socket buffer, and a peer that is not reading loses it.
void HelperServer::refuse(UniqueFd connection, uid_t uid) {
    const std::string reply =
        HelperToolProtocol::encodeReply(HelperToolProtocol::ErrorReply{"too many connections"});
    ::send(connection.get(), reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ++refusedSinceLog_;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastRefusalLog_ < 1s) return;
    services_.log.notice("Refused " + std::to_string(refusedSinceLog_) +
                         " connection(s) over the limits, the last from uid " +
                         std::to_string(uid));
    lastRefusalLog_ = now;
    refusedSinceLog_ = 0;
}

void HelperServer::serveOnNewThread(UniqueFd connection, PeerCredentials peer,
                                    std::unique_ptr<ConnectionLimits::Slot> slot) {
    try {
        std::thread([socket = std::move(connection), peer = std::move(peer),
                     slot = std::move(slot), this]() mutable {
            HelperConnection(std::move(socket), std::move(peer), services_).serve();
        }).detach();
    } catch (const std::system_error&) {
        services_.log.notice("Dropped a connection: no thread to serve it");
    }
}

}  // namespace tw
