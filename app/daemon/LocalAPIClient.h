#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/daemon/LocalAPI.h"

namespace tw {

class AppLogger;
class WorkerPool;

// The LocalAPI over the daemon's Unix socket: one connection per request, a hand-written
// HTTP/1.1 request sent in one write, the whole response read until the daemon closes. Each
// exchange runs on the worker pool, which also runs its completion, before the socket closes.
class LocalAPIClient final : public LocalAPI {
public:
    static constexpr std::string_view kDefaultSocketPath = "/var/run/tarnwickd.socket";
    // The whole exchange, connect to last byte, must end within this; past it the exchange fails
    // (readFailed, "Connection timed out"), however the daemon spreads its bytes.
    static constexpr std::chrono::milliseconds kDefaultExchangeLimit{30'000};
    static constexpr std::size_t kReadChunkSize = 16384;
    static constexpr std::size_t kInitialBufferSize = 32768;
    static constexpr std::size_t kMaxResponseSize = 1024 * 1024;

    LocalAPIClient(std::string socketPath, std::shared_ptr<AppLogger> logger,
                   std::shared_ptr<WorkerPool> pool,
                   std::chrono::milliseconds exchangeLimit = kDefaultExchangeLimit);

    static const std::shared_ptr<LocalAPIClient>& shared();

    void getStatus(Completion<DaemonStatus> completion) override;
    void getProfiles(Completion<ProfilesResponse> completion) override;
    void switchProfile(const std::string& id, Completion<void> completion) override;
    void switchToEmptyProfile(Completion<void> completion) override;
    void setWantRunning(bool wantRunning, Completion<void> completion) override;
    void startLogin(Completion<std::string> completion) override;
    void triggerLogin(Completion<void> completion) override;

    const std::string& socketPath() const { return config_->socketPath; }

    // The request bytes: request line, Host, Content-Length, Connection: close, the content type
    // when a body is given, the blank line, the body.
    static std::string buildRequest(std::string_view method, std::string_view path,
                                    std::optional<std::string_view> body = std::nullopt);
    // Percent-encodes every byte outside the URL query characters, with upper-case digits.
    static std::string encodeQueryValue(std::string_view value);

private:
    struct Config {
        std::string socketPath;
        std::shared_ptr<AppLogger> logger;
        std::chrono::milliseconds exchangeLimit;
    };
    using Clock = std::chrono::steady_clock;
    // The socket's receive limit, shortened as the exchange's deadline draws near.
    struct ReceiveLimit {
        Clock::time_point deadline;
        std::chrono::milliseconds armed;
    };
    struct Request {
        Request(std::string method_, std::string path_, std::optional<std::string> body_ = {},
                bool checkStatus_ = true)
            : method(std::move(method_)), path(std::move(path_)), body(std::move(body_)),
              checkStatus(checkStatus_) {}
        std::string method;
        std::string path;
        std::optional<std::string> body;
        bool checkStatus;
    };

    void send(Request request, Completion<std::string> completion);
    void sendIgnoringBody(Request request, Completion<void> completion);

    static std::expected<std::string, LocalAPIError> exchange(const Config& config, int fd,
                                                              const Request& request,
                                                              ReceiveLimit limit);
    static std::expected<std::string, LocalAPIError> readResponse(const Config& config, int fd,
                                                                  ReceiveLimit limit);
    // False once the deadline has passed; otherwise bounds the next receive by what is left.
    static bool armReceive(int fd, ReceiveLimit& limit);
    // Logs the error status and makes its error.
    static LocalAPIError httpError(const Config& config, const Request& request, std::int64_t code,
                                   std::string_view body);

    std::shared_ptr<const Config> config_;
    std::shared_ptr<WorkerPool> pool_;
};

}  // namespace tw
