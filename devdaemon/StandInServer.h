#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "devdaemon/HttpRequest.h"
#include "devdaemon/StandInLocalAPI.h"
#include "devdaemon/StandInLog.h"

namespace tw {

// The stand-in daemon's Unix socket: one request per connection, each connection on its own
// thread, the event stream kept open and fed until its reader goes away.
class StandInServer {
public:
    struct Options {
        std::string socketPath;
        std::size_t maxConnections = 64;  // beyond this a connection is answered 503 and closed
        std::chrono::milliseconds idleTimeout = std::chrono::seconds(10);  // per read or write
    };

    // Listens at once (replacing a stale socket file); the reason when it cannot. `api` must
    // outlive the server.
    static std::expected<std::unique_ptr<StandInServer>, std::string> start(StandInLocalAPI& api,
                                                                            Options options,
                                                                            StandInLog log);

    // Stops accepting, ends every connection, joins every thread and removes the socket file.
    ~StandInServer();
    StandInServer(const StandInServer&) = delete;
    StandInServer& operator=(const StandInServer&) = delete;

    std::size_t streamCount() const;

private:
    StandInServer(StandInLocalAPI& api, Options options, StandInLog log, UniqueFd listener,
                  UniqueFd wakeRead, UniqueFd wakeWrite);

    void acceptLoop();
    void admit(UniqueFd connection);
    void reapFinished();
    void serve(std::uint64_t id, UniqueFd connection);
    std::optional<HttpRequest> receive(int fd);
    void respond(int fd, const HttpRequest& request);
    void stream(int fd);

    StandInLocalAPI& api_;
    const Options options_;
    const StandInLog log_;
    const UniqueFd listener_;
    const UniqueFd wakeRead_;
    const UniqueFd wakeWrite_;
    mutable std::mutex mutex_;
    std::set<int> openFds_;
    std::map<std::uint64_t, std::thread> threads_;
    std::vector<std::uint64_t> finished_;  // threads done serving, to be joined
    std::uint64_t nextId_ = 0;
    std::size_t streams_ = 0;
    std::thread acceptThread_;
};

}  // namespace tw
