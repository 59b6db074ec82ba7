#include "devdaemon/StandInServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/UnixSocket.h"
#include "devdaemon/StreamClient.h"

namespace tw {

namespace {

constexpr std::string_view kStreamHeader =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";
constexpr std::chrono::milliseconds kAcceptRetryPause{100};
constexpr std::chrono::milliseconds kLinger{1000};
constexpr std::size_t kMaxLingering = 256;

std::optional<uid_t> peerUid(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
    return credentials.uid;
}

// Root, or the user the daemon runs as (who could do what root-only requests do anyway).
bool isPrivileged(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

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
        const int ready = ::poll(fds, 2, pollTimeout());
        closeLingering();
        if (ready < 0) {
            if (errno == EINTR) continue;
            log_(std::string("stopped accepting: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents == 0) continue;
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
    const auto uid = peerUid(connection.get());
    if (!uid) return;
    std::unique_lock lock(mutex_);
    if (requests_ >= options_.maxConnections) {
        lock.unlock();
        refuse(std::move(connection), std::to_string(options_.maxConnections) + " already open");
        return;
    }
    auto& mine = requestsPerUser_[*uid];
    if (!isPrivileged(*uid) && mine >= options_.maxConnectionsPerUser) {
        lock.unlock();
        refuse(std::move(connection), "uid " + std::to_string(*uid) + " has " +
                                          std::to_string(mine) + " open");
        return;
    }
    ++requests_;
    ++mine;
    const auto id = nextId_++;
    openFds_.insert(connection.get());
    threads_.emplace(id, std::thread([this, id, uid = *uid,
                                      connection = std::move(connection)]() mutable {
                         serve(id, uid, std::move(connection));
                     }));
}

void StandInServer::refuse(UniqueFd connection, std::string_view why) {
    log_("refused a connection: " + std::string(why));
    const auto answer = HttpResponse::error(503, "too many connections").serialize();
    // The accept thread never waits on a peer: a client that is not reading loses the answer.
    ::send(connection.get(), answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(connection.get(), SHUT_WR);
    if (lingering_.size() >= kMaxLingering) lingering_.pop_front();
    lingering_.emplace_back(std::chrono::steady_clock::now() + kLinger, std::move(connection));
}

void StandInServer::closeLingering() {
    const auto now = std::chrono::steady_clock::now();
    while (!lingering_.empty() && lingering_.front().first <= now) lingering_.pop_front();
}

int StandInServer::pollTimeout() const {
    if (lingering_.empty()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        lingering_.front().first - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void StandInServer::leaveRequests(uid_t uid) {
    std::lock_guard lock(mutex_);
    --requests_;
    if (--requestsPerUser_[uid] == 0) requestsPerUser_.erase(uid);
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

void StandInServer::serve(std::uint64_t id, uid_t uid, UniqueFd connection) {
    auto request = receive(connection.get());
    if (request && StandInLocalAPI::isEventStream(*request)) {
        leaveRequests(uid);
        stream(connection.get());
    } else {
        if (request) {
            request->peerIsPrivileged = isPrivileged(uid);
            respond(connection.get(), *request);
        }
        leaveRequests(uid);
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(connection.get());
    connection.reset();
    finished_.push_back(id);
}

std::optional<HttpRequest> StandInServer::receive(int fd) {
    std::string bytes;
    char chunk[4096];
    const auto deadline = std::chrono::steady_clock::now() + options_.idleTimeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        const int ready =
            left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) log_("dropped a connection whose request did not arrive in time");
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

bool StandInServer::takeStreamPlace(int fd) {
    {
        std::lock_guard lock(mutex_);
        if (streams_ < options_.maxStreams) {
            ++streams_;
            return true;
        }
    }
    log_("refused an event stream: " + std::to_string(options_.maxStreams) + " already open");
    UnixSocket::setSendTimeout(fd, options_.idleTimeout);
    UnixSocket::sendAll(fd, HttpResponse::error(503, "too many event streams").serialize());
    return false;
}

void StandInServer::stream(int fd) {
    if (!takeStreamPlace(fd)) return;
    const auto client = StreamClient::open(fd);
    if (!client || !UnixSocket::sendAll(fd, kStreamHeader)) {
        std::lock_guard lock(mutex_);
        --streams_;
        return;
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
