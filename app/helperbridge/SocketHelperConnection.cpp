#include "app/helperbridge/SocketHelperConnection.h"

#include <cerrno>
#include <cstring>
#include <variant>

#include "base/UnixSocket.h"
#include "base/WorkerPool.h"
#include "shared/HelperToolProtocol.h"
#include "shared/LineReader.h"

namespace tw {

namespace {

std::string describe(LineReader::End end) {
    switch (end) {
        case LineReader::End::closed: return "The helper closed the connection without a reply";
        case LineReader::End::unterminated: return "The helper's reply was cut off";
        case LineReader::End::tooLong: return "The helper's reply is too long";
        case LineReader::End::readFailed: break;
    }
    return std::string("Reading the helper's reply failed: ") + std::strerror(errno);
}

// The reply's text; a refusal from the helper is reported as text too, since the helper was
// reached and answered.
std::expected<std::string, std::string> replyText(const std::string& line) {
    auto reply = HelperToolProtocol::decodeReply(line);
    if (!reply) return std::unexpected("The helper's reply is malformed: " + reply.error().message);
    if (const auto* run = std::get_if<HelperToolProtocol::RunGoToolReply>(&*reply)) return run->text;
    if (const auto* error = std::get_if<HelperToolProtocol::ErrorReply>(&*reply)) {
        return "Helper refused the request: " + error->message;
    }
    return std::unexpected(std::string("The helper answered a different request"));
}

std::string connectFailure(const UnixSocket::Error& error, const std::string& socketPath) {
    if (error.kind == UnixSocket::Error::Kind::pathTooLong) {
        return "The helper's socket path is too long: " + socketPath;
    }
    return std::string(std::strerror(error.errorNumber)) + ": " + socketPath;
}

}  // namespace

SocketHelperConnection::SocketHelperConnection(std::string socketPath, std::shared_ptr<WorkerPool> pool,
                                               std::chrono::milliseconds replyLimit)
    : socketPath_(std::move(socketPath)), pool_(std::move(pool)), replyLimit_(replyLimit) {}

void SocketHelperConnection::runGoTool(const std::string& path, const std::vector<std::string>& arguments,
                                       Callbacks callbacks) {
    auto request = HelperToolProtocol::encodeRequest(HelperToolProtocol::RunGoTool{path, arguments});
    pool_->submit([socketPath = socketPath_, replyLimit = replyLimit_, request = std::move(request),
                   callbacks = std::move(callbacks)] {
        auto connection = UnixSocket::connect(socketPath, replyLimit);
        if (!connection) {
            callbacks.unreachable(connectFailure(connection.error(), socketPath));
            return;
        }
        if (!UnixSocket::sendAll(connection->get(), request)) {
            callbacks.lost(std::string("Sending the request failed: ") + std::strerror(errno));
            return;
        }
        LineReader reader(connection->get(), HelperToolProtocol::kMaxReplyLineBytes);
        auto line = reader.next();
        if (!line) {
            callbacks.lost(describe(line.error()));
            return;
        }
        auto text = replyText(*line);
        if (text) {
            callbacks.reply(*text);
        } else {
            callbacks.lost(text.error());
        }
    });
}

}  // namespace tw
