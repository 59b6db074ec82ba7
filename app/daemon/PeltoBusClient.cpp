#include "app/daemon/PeltoBusClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/AppLogger.h"
#include "base/FreedMemory.h"
#include "base/MainQueue.h"
#include "base/UnixSocket.h"
#include "base/Utf8.h"
#include "base/WorkerPool.h"

namespace tw {

namespace {

constexpr std::string_view kStreamCategory = "PeltoBus";
constexpr std::size_t kLogoutReadSize = 1024;

}  // namespace

PeltoBusClient::PeltoBusClient(std::string socketPath, std::shared_ptr<AppLogger> logger,
                               std::shared_ptr<MainQueue> mainQueue,
                               std::shared_ptr<WorkerPool> pool, Options options)
    : socketPath_(std::move(socketPath)),
      logger_(std::move(logger)),
      mainQueue_(std::move(mainQueue)),
      pool_(std::move(pool)),
      options_(options),
      framer_(options.maxPendingBytes) {}

PeltoBusClient::~PeltoBusClient() { stop(); }

void PeltoBusClient::setDelegate(std::weak_ptr<PeltoBusClientDelegate> delegate) {
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

void PeltoBusClient::start() {
    {
        std::lock_guard lock(socketMutex_);
        if (isRunning_.load()) return;
        isRunning_.store(true);
    }
    // The destructor joins the queue before any member goes, so the loop may use `this`.
    queue_.post([this] { connectLoop(); });
}

void PeltoBusClient::stop() {
    {
        std::lock_guard lock(socketMutex_);
        isRunning_.store(false);
        // Shut down rather than close: the loop owns the descriptor and closes it once its read
        // has returned, so the number cannot be reused while the loop may still touch it.
        if (socketFD_ != -1) ::shutdown(socketFD_, SHUT_RDWR);
    }
    stopped_.notify_all();
}

void PeltoBusClient::log(const std::string& message) const {
    logger_->log(kStreamCategory, message);
}

void PeltoBusClient::post(std::function<void(PeltoBusClientDelegate&)> callback) {
    std::weak_ptr<PeltoBusClientDelegate> delegate;
    {
        std::lock_guard lock(delegateMutex_);
        delegate = delegate_;
    }
    mainQueue_->post([delegate = std::move(delegate), callback = std::move(callback)] {
        if (auto receiver = delegate.lock()) callback(*receiver);
    });
}

void PeltoBusClient::connectLoop() {
    while (isRunning_.load()) {
        auto fd = UnixSocket::connect(socketPath_, options_.connectTimeout);
        if (!fd) {
            log("Connection failed, retrying in 3s...");
        } else {
            // The stream waits for events as long as they take; only stop() ends a read.
            UnixSocket::setReceiveTimeout(fd->get(), std::chrono::milliseconds::zero());
            streamOnce(std::move(*fd));
        }
        if (!pauseBeforeReconnect()) return;
    }
}

void PeltoBusClient::streamOnce(UniqueFd fd) {
    log("Connected to socket");
    if (!adoptSocket(fd.get())) return;
    framer_.reset();
    post([](PeltoBusClientDelegate& delegate) { delegate.peltoBusDidConnect(); });
    UnixSocket::sendOnce(fd.get(), kStreamRequest.data(), kStreamRequest.size());
    readStream(fd.get());
    releaseSocket();
    fd.reset();
    framer_.reset();
    post([](PeltoBusClientDelegate& delegate) { delegate.peltoBusDidDisconnect(std::nullopt); });
}

bool PeltoBusClient::adoptSocket(int fd) {
    std::lock_guard lock(socketMutex_);
    if (!isRunning_.load()) return false;
    socketFD_ = fd;
    return true;
}

void PeltoBusClient::releaseSocket() {
    std::lock_guard lock(socketMutex_);
    socketFD_ = -1;
}

bool PeltoBusClient::pauseBeforeReconnect() {
    std::unique_lock lock(socketMutex_);
    if (!isRunning_.load()) return false;
    const auto delay = std::chrono::duration<double>(options_.reconnectDelaySeconds);
    stopped_.wait_for(lock, delay, [this] { return !isRunning_.load(); });
    return isRunning_.load();
}

void PeltoBusClient::readStream(int fd) {
    char chunk[kReadChunkSize];
    while (isRunning_.load()) {
        releaseLargeBuffersWhenQuiet(fd);
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) {
            if (processData(chunk, static_cast<std::size_t>(n))) continue;
            log("Stream line too long (" + std::to_string(framer_.pendingBytes()) +
                " bytes without a line feed), reconnecting");
            return;
        }
        // A socket shut down by stop() reads as the end of the stream; only a stream that ended
        // while it was still wanted is worth a line.
        if (!isRunning_.load()) return;
        log(n == 0 ? std::string("EOF") : "Read error: " + std::string(std::strerror(errno)));
        return;
    }
}

// A large network map leaves the framer's and the decoder's buffers several times its size. They
// are kept while lines keep coming, and given back once the stream has been quiet a while; with
// nothing to give back the loop just waits for bytes.
void PeltoBusClient::releaseLargeBuffersWhenQuiet(int fd) {
    if (!framer_.holdsLargeBuffer() && !PeltoBusNotify::decoderHoldsLargeBuffers()) return;
    pollfd readable{.fd = fd, .events = POLLIN, .revents = 0};
    if (::poll(&readable, 1, static_cast<int>(options_.quietBeforeRelease.count())) != 0) return;
    framer_.releaseLargeBuffer();
    PeltoBusNotify::releaseDecoderBuffers();
    // The records of the maps were allocated here and released on the main queue.
    giveFreedMemoryBack();
}

bool PeltoBusClient::processData(const char* data, std::size_t size) {
    return framer_.append(data, size, [this](PaddedLine line) {
        auto notify = PeltoBusNotify::decode(framer_.takeLine(line));
        if (!notify) return;
        post([notify = std::move(*notify)](PeltoBusClientDelegate& delegate) {
            delegate.peltoBusDidReceiveNotify(notify);
        });
    });
}

void PeltoBusClient::logout() {
    pool_->submit([path = socketPath_, logger = logger_, timeout = options_.logoutTimeout] {
        auto fd = UnixSocket::connect(path, timeout);
        if (!fd) {
            logger->log(kStreamCategory, "Logout failed: Could not open socket");
            return;
        }
        const ssize_t written =
            UnixSocket::sendOnce(fd->get(), kLogoutRequest.data(), kLogoutRequest.size());
        if (written < 0) {
            logger->log(kStreamCategory,
                        "Logout write failed: " + std::string(std::strerror(errno)));
            return;
        }
        logger->log(kStreamCategory, "Logout request sent, bytes: " + std::to_string(written));
        char response[kLogoutReadSize];
        pollfd pfd{fd->get(), POLLIN, 0};
        ssize_t n = -1;
        if (::poll(&pfd, 1, static_cast<int>(timeout.count())) > 0) {
            n = ::recv(fd->get(), response, sizeof response, 0);
        }
        if (n <= 0) {
            logger->log(kStreamCategory, "Logout response empty or error");
            return;
        }
        const std::string_view text(response, static_cast<std::size_t>(n));
        logger->log(kStreamCategory,
                    "Logout response: " + std::string(isValidUtf8(text) ? text : ""));
    });
}

}  // namespace tw
