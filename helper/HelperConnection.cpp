#include "helper/HelperConnection.h"

#include <optional>

#include "base/UnixSocket.h"
#include "shared/LineReader.h"

namespace tw {

namespace {

using Protocol = HelperToolProtocol;
using Access = PeerAuthoriser::Access;

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
    UnixSocket::setSendTimeout(socket_.get(), kSendTimeout);
    const Access access = peerAccess();
    if (access == Access::refused) {
        send(Protocol::ErrorReply{"not authorised"});
        return;
    }
    LineReader reader(socket_.get(), Protocol::kMaxRequestLineBytes);
    for (;;) {
        const auto line = reader.next(std::chrono::steady_clock::now() + kRequestDeadline);
        if (!line) {
            if (const auto reply = replyToEnd(line.error())) send(*reply);
            return;
        }
        if (!send(replyTo(*line, access))) return;
    }
}

Access HelperConnection::peerAccess() {
    const Access access = services_.authoriser.access(peer_);
    if (access != Access::refused) return access;
    services_.log.notice("Refused connection from pid " + std::to_string(peer_.pid) + " (uid " +
                         std::to_string(peer_.uid) + "): not root, not in group " +
                         services_.authoriser.group() + " and not authorised by polkit");
    return access;
}

Protocol::Reply HelperConnection::replyTo(std::string_view line, Access access) {
    const auto request = Protocol::decodeRequest(line);
    if (!request) {
        services_.log.notice("Rejected a malformed request: " + request.error().message);
        return Protocol::ErrorReply{"malformed request: " + request.error().message};
    }
    return carryOut(*request, access);
}

Protocol::Reply HelperConnection::carryOut(const Protocol::Request& request, Access access) {
    if (std::holds_alternative<Protocol::Ping>(request)) {
        return Protocol::PingReply{services_.tool.pingWithReply()};
    }
    const auto& run = std::get<Protocol::RunGoTool>(request);
    if (access == Access::session) {
        if (const auto refusal = services_.sessionPolicy.refusal(run.path, run.arguments)) {
            services_.log.notice("Refused a request of uid " + std::to_string(peer_.uid) +
                                 " to run " + run.path + ": " + *refusal);
            return Protocol::ErrorReply{"not permitted: " + *refusal};
        }
    }
    return Protocol::RunGoToolReply{services_.tool.runGoToolWithPath(run.path, run.arguments)};
}

bool HelperConnection::send(const Protocol::Reply& reply) {
    return UnixSocket::sendAll(socket_.get(), Protocol::encodeReply(reply));
}

}  // namespace tw
