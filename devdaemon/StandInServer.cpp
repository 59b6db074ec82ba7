#include "devdaemon/StandInServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/UnixSocket.h"
#include "devdaemon/StreamClient.h"

namespace tw {

namespace {

constexpr std::string_view kStreamHeader =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";
constexpr std::chrono::milliseconds kAcceptRetryPause{100};

std::string describe(const UnixSocket::Error& error, const std::string& path) {
    if (error.kind == UnixSocket::Error::Kind::pathTooLong) {
        return "socket path longer than " + std::to_string(UnixSocket::kMaxPathLength) +
               " bytes: " + path;
    }
    return "cannot listen on " + path + ": " + std::strerror(error.errorNumber);
}

}  // namespace

std::expected<std::unique_ptr<StandInServer>, std::string> StandInServer::start(
    StandInLocalAPI& api, Options options, StandInLog log) {
    auto listener = UnixSocket::listen(options.socketPath);
    if (!listener) return std::unexpected(describe(listener.error(), options.socketPath));
    // The client runs as the desktop user, the real daemon as root.
    ::chmod(options.socketPath.c_str(), 0666);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::unexpected(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    return std::unique_ptr<StandInServer>(new StandInServer(api, std::move(options), std::move(log),
                                                            std::move(*listener),
                                                            UniqueFd(pipeFds[0]),
                                                            UniqueFd(pipeFds[1])));
}

StandInServer::StandInServer(StandInLocalAPI& api, Options options, StandInLog log,
                             UniqueFd listener, UniqueFd wakeRead, UniqueFd wakeWrite)
    : api_(api),
      options_(std::move(options)),
      log_(std::move(log)),
      listener_(std::move(listener)),
      wakeRead_(std::move(wakeRead)),
      wakeWrite_(std::move(wakeWrite)),
      acceptThread_([this] { acceptLoop(); }) {}

StandInServer::~StandInServer() {
    const char byte = 0;
    [[maybe_unused]] const auto ignored = ::write(wakeWrite_.get(), &byte, 1);
    acceptThread_.join();
    std::map<std::uint64_t, std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        for (const int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
        threads.swap(threads_);
    }
    for (auto& [id, thread] : threads) thread.join();
    ::unlink(options_.socketPath.c_str());
}

std::size_t StandInServer::streamCount() const {
    std::lock_guard lock(mutex_);
    return streams_;
}

void StandInServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            log_(std::string("stopped accepting: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) return;
        UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        const int acceptError = errno;
        reapFinished();
        if (connection) {
            admit(std::move(connection));
        } else if (acceptError == EMFILE || acceptError == ENFILE) {
            // Out of descriptors: wait for connections to end rather than spin.
            ::poll(&fds[1], 1, static_cast<int>(kAcceptRetryPause.count()));
        }
    }
}

void StandInServer::admit(UniqueFd connection) {
    std::unique_lock lock(mutex_);
    if (openFds_.size() >= options_.maxConnections) {
        lock.unlock();
        log_("refused a connection: " + std::to_string(options_.maxConnections) + " already open");
        UnixSocket::sendAll(connection.get(), HttpResponse::error(503, "too many connections").serialize());
        return;
    }
    const auto id = nextId_++;
    openFds_.insert(connection.get());
    threads_.emplace(id, std::thread([this, id, connection = std::move(connection)]() mutable {
                         serve(id, std::move(connection));
                     }));
}

void StandInServer::reapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(mutex_);
        for (const auto id : finished_) done.push_back(std::move(threads_.extract(id).mapped()));
        finished_.clear();
    }
    for (auto& thread : done) thread.join();
}

void StandInServer::serve(std::uint64_t id, UniqueFd connection) {
    if (const auto request = receive(connection.get())) {
        if (StandInLocalAPI::isEventStream(*request)) {
            stream(connection.get());
        } else {
            respond(connection.get(), *request);
        }
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(connection.get());
    connection.reset();
    finished_.push_back(id);
}

std::optional<HttpRequest> StandInServer::receive(int fd) {
    std::string bytes;
    char chunk[4096];
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(options_.idleTimeout.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) log_("dropped a connection that sent nothing");
        if (ready <= 0) return std::nullopt;
        const auto n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return std::nullopt;
        bytes.append(chunk, static_cast<std::size_t>(n));
        auto parsed = HttpRequest::parse(bytes);
        if (!parsed) {
            log_("bad request: " + parsed.error());
            UnixSocket::sendAll(fd, HttpResponse::error(400, parsed.error()).serialize());
            return std::nullopt;
        }
        if (*parsed) return std::move(**parsed);
    }
}

void StandInServer::respond(int fd, const HttpRequest& request) {
    const auto response = api_.handle(request);
    log_(request.method + " " + request.path + " " + std::to_string(response.status));
    UnixSocket::setSendTimeout(fd, options_.idleTimeout);
    UnixSocket::sendAll(fd, response.serialize());
}

void StandInServer::stream(int fd) {
    const auto client = StreamClient::open(fd);
    if (!client || !UnixSocket::sendAll(fd, kStreamHeader)) return;
    {
        std::lock_guard lock(mutex_);
        ++streams_;
    }
    log_("event stream opened");
    {
        const auto subscription = api_.observe(
            [&client](const std::string& notification) { client->push(notification); });
        client->run();
    }
    log_("event stream closed");
    std::lock_guard lock(mutex_);
    --streams_;
}

}  // namespace tw
