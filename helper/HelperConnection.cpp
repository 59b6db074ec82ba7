#include "helper/HelperConnection.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <optional>

#include "base/UnixSocket.h"
#include "helper/PosixError.h"
#include "shared/LineReader.h"

namespace tw {

namespace {

using Protocol = HelperToolProtocol;

void setTimeouts(int fd, int seconds) {
    const timeval timeout{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

// The reply owed when the stream ends in a state the client should hear about.
std::optional<Protocol::Reply> replyToEnd(LineReader::End end) {
    switch (end) {
        case LineReader::End::tooLong:
            return Protocol::ErrorReply{"request line longer than 65536 bytes"};
        case LineReader::End::unterminated:
            return Protocol::ErrorReply{"request line not terminated"};
        case LineReader::End::closed:
        case LineReader::End::readFailed:
            break;
    }
    return std::nullopt;
}

}  // namespace

void HelperConnection::serve() {
    setTimeouts(socket_.get(), kIdleTimeoutSeconds);
    const bool allowed = peerAllowed();
    LineReader reader(socket_.get(), Protocol::kMaxRequestLineBytes);
    for (;;) {
        const auto line = reader.next();
        if (!line) {
            if (const auto reply = replyToEnd(line.error())) send(*reply);
            return;
        }
        if (!allowed) {
            send(Protocol::ErrorReply{"not authorised"});
            return;
        }
        if (!send(replyTo(*line))) return;
    }
}

bool HelperConnection::peerAllowed() {
    const auto peer = PeerCredentials::of(socket_.get());
    if (!peer) {
        log_.notice("Refused a connection whose peer is unknown: " +
                    PosixError(peer.error(), "").localizedDescription());
        return false;
    }
    if (authoriser_.allows(*peer)) return true;
    log_.notice("Refused connection from pid " + std::to_string(peer->pid) + " (uid " +
                std::to_string(peer->uid) + "): not root, not in group " + authoriser_.group() +
                " and not authorised by polkit");
    return false;
}

Protocol::Reply HelperConnection::replyTo(std::string_view line) {
    const auto request = Protocol::decodeRequest(line);
    if (!request) {
        log_.notice("Rejected a malformed request: " + request.error().message);
        return Protocol::ErrorReply{"malformed request: " + request.error().message};
    }
    return carryOut(*request);
}

Protocol::Reply HelperConnection::carryOut(const Protocol::Request& request) {
    if (std::holds_alternative<Protocol::Ping>(request)) {
        return Protocol::PingReply{tool_.pingWithReply()};
    }
    const auto& run = std::get<Protocol::RunGoTool>(request);
    return Protocol::RunGoToolReply{tool_.runGoToolWithPath(run.path, run.arguments)};
}

bool HelperConnection::send(const Protocol::Reply& reply) {
    return UnixSocket::sendAll(socket_.get(), Protocol::encodeReply(reply));
}

}  // namespace tw
