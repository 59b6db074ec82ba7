#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"

namespace tw {

// An in-process stand-in for the node daemon's socket, for tests of its clients. It accepts on a
// Unix socket, records the exact bytes of every request and answers each connection with a
// scripted reply: bytes, pieces with pauses between them, an immediate close, or a connection
// held open until the daemon stops.
class FakeDaemon {
public:
    struct Request {
        std::string bytes;  // exactly as received: header, blank line and body
        std::string method;
        std::string path;
        std::string body;
    };

    class Reply {
    public:
        // "HTTP/1.1 <code> <reason>\r\n\r\n" followed by the body.
        static Reply http(int code, const std::string& body);
        // Reads the request and closes without writing anything.
        static Reply closeAtOnce();

        Reply& send(std::string bytes);
        Reply& pause(std::chrono::milliseconds duration);
        // Keeps the connection open, silent, until the daemon stops.
        Reply& hold();
        // Answers without reading the request first. Closing a Unix socket with unread bytes
        // makes the peer's next read fail with ECONNRESET.
        Reply& withoutReadingRequest();

    private:
        friend class FakeDaemon;
        struct Step {
            std::string bytes;
            std::chrono::milliseconds pause{0};
            bool hold = false;
        };
        std::vector<Step> steps_;
        bool readRequest_ = true;
    };

    using Handler = std::function<Reply(const Request&)>;

    // Starts listening at `socketPath` at once.
    explicit FakeDaemon(std::string socketPath);
    ~FakeDaemon();
    FakeDaemon(const FakeDaemon&) = delete;
    FakeDaemon& operator=(const FakeDaemon&) = delete;

    // Queued replies answer the next connections, one each, in the order they were accepted;
    // when none is queued the handler answers (by default a 404).
    void enqueue(Reply reply);
    void setHandler(Handler handler);

    // Stops accepting, ends every open connection and removes the socket file.
    void stop();
    // Listens again on the same path after stop().
    void start();

    const std::string& socketPath() const { return socketPath_; }
    std::vector<Request> requests() const;
    std::size_t connectionCount() const;
    // Waits (real time) until at least `count` connections have been accepted.
    bool waitForConnections(std::size_t count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    void acceptLoop(int listenFd, int wakeFd);
    void serve(UniqueFd connection, std::optional<Reply> scripted);
    bool readRequest(int fd, Request& request);
    bool sleepUnlessStopped(std::chrono::milliseconds duration);

    const std::string socketPath_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Reply> replies_;
    Handler handler_;
    std::vector<Request> requests_;
    std::size_t connections_ = 0;
    std::set<int> openFds_;
    bool stopped_ = true;
    UniqueFd wakeWrite_;
    std::thread acceptThread_;
    std::vector<std::thread> connectionThreads_;
};

}  // namespace tw
