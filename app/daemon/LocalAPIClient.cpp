#include "app/daemon/LocalAPIClient.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "app/daemon/LocalAPIResponse.h"
#include "app/daemon/LoginURLSearch.h"
#include "base/AppLogger.h"
#include "base/UnixSocket.h"
#include "base/Utf8.h"
#include "base/WorkerPool.h"

namespace tw {

namespace {

constexpr std::string_view kLocalAPICategory = "LocalAPI";

std::string errorText(int errorNumber) { return std::strerror(errorNumber); }

LocalAPIError connectError(const UnixSocket::Error& error) {
    switch (error.kind) {
        case UnixSocket::Error::Kind::createFailed: return LocalAPIError::socketCreateFailed();
        case UnixSocket::Error::Kind::pathTooLong: return LocalAPIError::socketPathTooLong();
        case UnixSocket::Error::Kind::connectFailed: break;
    }
    return LocalAPIError::connectFailed(errorText(error.errorNumber));
}

bool isQueryCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~!$&'()*+,;=:/?@").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

}  // namespace

LocalAPIClient::LocalAPIClient(std::string socketPath, std::shared_ptr<AppLogger> logger,
                               std::shared_ptr<WorkerPool> pool,
                               std::chrono::milliseconds exchangeLimit)
    : config_(std::make_shared<Config>(Config{std::move(socketPath), std::move(logger), exchangeLimit})),
      pool_(std::move(pool)) {}

const std::shared_ptr<LocalAPIClient>& LocalAPIClient::shared() {
    static const auto* client = new std::shared_ptr<LocalAPIClient>(std::make_shared<LocalAPIClient>(
        std::string(kDefaultSocketPath), AppLogger::shared(), WorkerPool::shared()));
    return *client;
}

std::string LocalAPIClient::buildRequest(std::string_view method, std::string_view path,
                                         std::optional<std::string_view> body) {
    std::string request;
    request.reserve(128 + path.size() + (body ? body->size() : 0));
    request.append(method).append(" ").append(path).append(" HTTP/1.1\r\n");
    request.append("Host: local-tarnwickd.sock\r\n");
    request.append("Content-Length: ").append(std::to_string(body ? body->size() : 0)).append("\r\n");
    request.append("Connection: close\r\n");
    if (body) request.append("Content-Type: application/json\r\n");
    request.append("\r\n");
    if (body) request.append(*body);
    return request;
}

std::string LocalAPIClient::encodeQueryValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (isQueryCharacter(c)) {
            encoded.push_back(ch);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0xF]);
        }
    }
    return encoded;
}

void LocalAPIClient::send(Request request, Completion<std::string> completion) {
    pool_->submit([config = config_, request = std::move(request),
                   completion = std::move(completion)] {
        const ReceiveLimit limit{Clock::now() + config->exchangeLimit, config->exchangeLimit};
        auto fd = UnixSocket::connect(config->socketPath, config->exchangeLimit);
        if (!fd) {
            completion(std::unexpected(connectError(fd.error())));
            return;
        }
        // The socket stays open until the completion has returned.
        completion(exchange(*config, fd->get(), request, limit));
    });
}

void LocalAPIClient::sendIgnoringBody(Request request, Completion<void> completion) {
    send(std::move(request), [completion = std::move(completion)](auto result) {
        if (result) {
            completion({});
        } else {
            completion(std::unexpected(std::move(result.error())));
        }
    });
}

std::expected<std::string, LocalAPIError> LocalAPIClient::exchange(const Config& config, int fd,
                                                                   const Request& request,
                                                                   ReceiveLimit limit) {
    const std::string bytes = buildRequest(request.method, request.path, request.body);
    if (UnixSocket::sendOnce(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        return std::unexpected(LocalAPIError::writeFailed(errorText(errno)));
    }
    const auto response = readResponse(config, fd, limit);
    if (!response) return std::unexpected(response.error());
    const auto parts = LocalAPIResponse::split(*response);
    if (!parts) return std::unexpected(LocalAPIError::badHTTPResponse());
    if (request.checkStatus) {
        if (const auto code = LocalAPIResponse::errorStatus(parts->header)) {
            return std::unexpected(httpError(config, request, *code, parts->body));
        }
    }
    return std::string(parts->body);
}

bool LocalAPIClient::armReceive(int fd, ReceiveLimit& limit) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit.deadline - Clock::now());
    if (left.count() <= 0) return false;
    // Re-armed only once the limit has run down by a tenth: most responses take one or two
    // reads, each one system call, and the deadline is kept within a tenth of its length.
    if (left < limit.armed - limit.armed / 10) {
        UnixSocket::setReceiveTimeout(fd, left);
        limit.armed = left;
    }
    return true;
}

// Blocking reads, each bounded by what is left of the exchange's time: one system call a read,
// where waiting in poll first would take two.
std::expected<std::string, LocalAPIError> LocalAPIClient::readResponse(const Config& config, int fd,
                                                                       ReceiveLimit limit) {
    std::string buffer;
    buffer.reserve(kInitialBufferSize);
    char chunk[kReadChunkSize];
    for (;;) {
        if (!armReceive(fd, limit)) return std::unexpected(LocalAPIError::readFailed(errorText(ETIMEDOUT)));
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return std::unexpected(LocalAPIError::readFailed(errorText(ETIMEDOUT)));
        }
        if (n < 0) return std::unexpected(LocalAPIError::readFailed(errorText(errno)));
        if (n == 0) return buffer;
        buffer.append(chunk, static_cast<std::size_t>(n));
        if (buffer.size() > kMaxResponseSize) {
            config.logger->log(
                kLocalAPICategory,
                "Response too large (" + std::to_string(buffer.size()) + " bytes), truncating");
            return buffer;
        }
    }
}

LocalAPIError LocalAPIClient::httpError(const Config& config, const Request& request,
                                        std::int64_t code, std::string_view body) {
    const std::string text(isValidUtf8(body) ? body : std::string_view());
    config.logger->log(kLocalAPICategory, "HTTP error " + std::to_string(code) + " for " +
                                              request.method + " " + request.path + ": " + text);
    return LocalAPIError::httpError(code, text);
}

void LocalAPIClient::getStatus(Completion<DaemonStatus> completion) {
    send({"GET", "/localapi/v0/status"}, [completion = std::move(completion)](auto body) {
        if (!body) return completion(std::unexpected(std::move(body.error())));
        auto status = DaemonStatus::decode(*body);
        if (!status) return completion(std::unexpected(LocalAPIError::decodeFailed()));
        completion(std::move(*status));
    });
}

void LocalAPIClient::getProfiles(Completion<ProfilesResponse> completion) {
    send({"GET", "/localapi/v0/profiles"},
         [logger = config_->logger, completion = std::move(completion)](auto body) {
             if (!body) return completion(std::unexpected(std::move(body.error())));
             auto profiles = ProfilesResponse::decode(*body);
             if (!profiles) {
                 logger->log(kLocalAPICategory,
                             "Failed to decode profiles response: " + profiles.error().description);
                 return completion(std::unexpected(LocalAPIError::decodeFailed()));
             }
             completion(std::move(*profiles));
         });
}

void LocalAPIClient::switchProfile(const std::string& id, Completion<void> completion) {
    sendIgnoringBody({"POST", "/localapi/v0/profiles/switch?id=" + encodeQueryValue(id)},
                     std::move(completion));
}

void LocalAPIClient::switchToEmptyProfile(Completion<void> completion) {
    sendIgnoringBody({"POST", "/localapi/v0/profiles/switch-to-empty"}, std::move(completion));
}

void LocalAPIClient::setWantRunning(bool wantRunning, Completion<void> completion) {
    std::string body = wantRunning ? R"({"WantRunning":true,"WantRunningSet":true})"
                                   : R"({"WantRunning":false,"WantRunningSet":true})";
    sendIgnoringBody({"PATCH", "/localapi/v0/merrow", std::move(body)}, std::move(completion));
}

void LocalAPIClient::startLogin(Completion<std::string> completion) {
    send({"POST", "/localapi/v0/login", std::nullopt, false},
         [completion = std::move(completion)](auto body) {
             if (!body) return completion(std::unexpected(std::move(body.error())));
             auto url = extractInteractiveLoginURL(*body);
             if (!url || url->empty()) return completion(std::unexpected(LocalAPIError::decodeFailed()));
             completion(std::move(*url));
         });
}

void LocalAPIClient::triggerLogin(Completion<void> completion) {
    sendIgnoringBody({"POST", "/localapi/v0/login"}, std::move(completion));
}

}  // namespace tw
