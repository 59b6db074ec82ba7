#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "devdaemon/HttpRequest.h"
#include "devdaemon/StandInLocalAPI.h"
#include "devdaemon/StandInLog.h"

namespace tw {

// The stand-in daemon's Unix socket: one request per connection, each connection on its own
// thread, the event stream kept open and fed until its reader goes away. Every local user may
// connect, as the application runs as the desktop user; requests and streams have caps of their
// own, so that idle streams cannot lock requests out, and a request must arrive whole within a
// deadline, so that trickling peers cannot hold their places.
class StandInServer {
public:
    struct Options {
        std::string socketPath;
        // Connections still sending or being answered; beyond this (or beyond the per-user part
        // for users other than root) a connection is answered 503.
        std::size_t maxConnections = 128;
        std::size_t maxConnectionsPerUser = 32;
        std::size_t maxStreams = 64;  // open event streams; beyond this a stream is answered 503
        // For the whole request, from the connection to its last byte, and then per write.
        std::chrono::milliseconds idleTimeout = std::chrono::seconds(10);
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
    // Sends the 503 and keeps the connection half-open for a moment, so that a client still
    // writing its request does not fail before it reads the answer.
    void refuse(UniqueFd connection, std::string_view why);
    void closeLingering();
    int pollTimeout() const;
    void reapFinished();
    void serve(std::uint64_t id, uid_t uid, UniqueFd connection);
    std::optional<HttpRequest> receive(int fd);
    void respond(int fd, const HttpRequest& request);
    void stream(int fd);
    bool takeStreamPlace(int fd);
    void leaveRequests(uid_t uid);

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
    std::size_t requests_ = 0;
    std::map<uid_t, std::size_t> requestsPerUser_;
    std::size_t streams_ = 0;
    // Refused connections waiting to be closed, oldest first; only the accept thread uses it.
    std::deque<std::pair<std::chrono::steady_clock::time_point, UniqueFd>> lingering_;
    std::thread acceptThread_;
};

}  // namespace tw
