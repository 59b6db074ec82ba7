#include "tests/support/FakeDaemon.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "base/UnixSocket.h"

namespace tw {

namespace {

std::size_t contentLength(const std::string& header) {
    const std::string key = "Content-Length: ";
    const auto at = header.find(key);
    if (at == std::string::npos) return 0;
    return std::strtoul(header.c_str() + at + key.size(), nullptr, 10);
}

void parseRequestLine(FakeDaemon::Request& request) {
    const auto lineEnd = request.bytes.find("\r\n");
    const auto line = request.bytes.substr(0, lineEnd);
    const auto firstSpace = line.find(' ');
    const auto secondSpace = line.find(' ', firstSpace + 1);
    request.method = line.substr(0, firstSpace);
    if (firstSpace != std::string::npos) {
        request.path = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    }
}

}  // namespace

FakeDaemon::Reply FakeDaemon::Reply::http(int code, const std::string& body) {
    const char* reason = code < 400 ? "OK" : (code == 404 ? "Not Found" : "Error");
    Reply reply;
    reply.send("HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n\r\n" + body);
    return reply;
}

FakeDaemon::Reply FakeDaemon::Reply::closeAtOnce() { return Reply(); }

FakeDaemon::Reply& FakeDaemon::Reply::send(std::string bytes) {
    steps_.push_back(Step{std::move(bytes), {}, false});
    return *this;
}

FakeDaemon::Reply& FakeDaemon::Reply::pause(std::chrono::milliseconds duration) {
    steps_.push_back(Step{{}, duration, false});
    return *this;
}

FakeDaemon::Reply& FakeDaemon::Reply::hold() {
    steps_.push_back(Step{{}, {}, true});
    return *this;
}

FakeDaemon::Reply& FakeDaemon::Reply::withoutReadingRequest() {
    readRequest_ = false;
    return *this;
}

FakeDaemon::FakeDaemon(std::string socketPath)
    : socketPath_(std::move(socketPath)),
      handler_([](const Request&) { return Reply::http(404, "not found"); }) {
    start();
}

FakeDaemon::~FakeDaemon() { stop(); }

void FakeDaemon::start() {
    std::lock_guard lock(mutex_);
    if (!stopped_) return;
    auto listener = UnixSocket::listen(socketPath_);
    if (!listener) throw std::runtime_error("FakeDaemon cannot listen on " + socketPath_);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    wakeWrite_.reset(pipeFds[1]);
    stopped_ = false;
    acceptThread_ = std::thread([this, listenFd = listener->release(), wakeFd = pipeFds[0]] {
        acceptLoop(listenFd, wakeFd);
    });
}

void FakeDaemon::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        const char byte = 0;
        [[maybe_unused]] auto ignored = ::write(wakeWrite_.get(), &byte, 1);
        for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    }
    changed_.notify_all();
    acceptThread_.join();
    {
        std::lock_guard lock(mutex_);
        threads.swap(connectionThreads_);
        wakeWrite_.reset();
    }
    for (auto& thread : threads) thread.join();
    ::unlink(socketPath_.c_str());
}

void FakeDaemon::acceptLoop(int listenFd, int wakeFd) {
    UniqueFd listener(listenFd);
    UniqueFd wake(wakeFd);
    for (;;) {
        pollfd fds[2] = {{listener.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection) continue;
        std::lock_guard lock(mutex_);
        ++connections_;
        openFds_.insert(connection.get());
        changed_.notify_all();
        std::optional<Reply> scripted;
        if (!replies_.empty()) {
            scripted = std::move(replies_.front());
            replies_.pop_front();
        }
        connectionThreads_.emplace_back(
            [this, fd = connection.release(), reply = std::move(scripted)]() mutable {
                serve(UniqueFd(fd), std::move(reply));
            });
    }
}

bool FakeDaemon::readRequest(int fd, Request& request) {
    char chunk[4096];
    std::size_t headerEnd = std::string::npos;
    for (;;) {
        if (headerEnd == std::string::npos) headerEnd = request.bytes.find("\r\n\r\n");
        if (headerEnd != std::string::npos &&
            request.bytes.size() >= headerEnd + 4 + contentLength(request.bytes.substr(0, headerEnd))) {
            break;
        }
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        request.bytes.append(chunk, static_cast<std::size_t>(n));
    }
    parseRequestLine(request);
    if (headerEnd != std::string::npos) request.body = request.bytes.substr(headerEnd + 4);
    return headerEnd != std::string::npos;
}

bool FakeDaemon::sleepUnlessStopped(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return stopped_; });
}

void FakeDaemon::serve(UniqueFd connection, std::optional<Reply> scripted) {
    Request request;
    if (!scripted || scripted->readRequest_) readRequest(connection.get(), request);
    Reply reply;
    if (scripted) {
        reply = std::move(*scripted);
    } else {
        std::unique_lock lock(mutex_);
        auto handler = handler_;
        lock.unlock();
        reply = handler(request);
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        changed_.notify_all();
    }
    for (const auto& step : reply.steps_) {
        if (!step.bytes.empty() &&
            UnixSocket::sendOnce(connection.get(), step.bytes.data(), step.bytes.size()) < 0) {
            break;
        }
        if (step.pause.count() > 0 && !sleepUnlessStopped(step.pause)) break;
        if (step.hold) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopped_; });
        }
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(connection.get());
    connection.reset();
}

std::vector<FakeDaemon::Request> FakeDaemon::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t FakeDaemon::connectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool FakeDaemon::waitForConnections(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return connections_ >= count; });
}

void FakeDaemon::enqueue(Reply reply) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
}

void FakeDaemon::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

}  // namespace tw
