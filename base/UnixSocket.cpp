#include "base/UnixSocket.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tw {

namespace {

std::unexpected<UnixSocket::Error> failure(UnixSocket::Error::Kind kind, int errorNumber = 0) {
    return std::unexpected(UnixSocket::Error{kind, errorNumber});
}

void setTimeout(int fd, int option, std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

}  // namespace

void UnixSocket::setSendTimeout(int fd, std::chrono::milliseconds timeout) {
    setTimeout(fd, SO_SNDTIMEO, timeout);
}

void UnixSocket::setReceiveTimeout(int fd, std::chrono::milliseconds timeout) {
    setTimeout(fd, SO_RCVTIMEO, timeout);
}

bool UnixSocket::sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = sendOnce(fd, bytes.data(), bytes.size());
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::expected<sockaddr_un, UnixSocket::Error> UnixSocket::address(std::string_view path) {
    if (path.size() > kMaxPathLength) return failure(Error::Kind::pathTooLong);
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    addr.sun_path[path.size()] = '\0';
    return addr;
}

std::expected<UniqueFd, UnixSocket::Error> UnixSocket::connect(std::string_view path,
                                                               std::chrono::milliseconds timeout) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return failure(Error::Kind::createFailed, errno);
    auto addr = address(path);
    if (!addr) return std::unexpected(addr.error());
    if (timeout.count() > 0) {
        setTimeout(fd.get(), SO_SNDTIMEO, timeout);
        setTimeout(fd.get(), SO_RCVTIMEO, timeout);
    }
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return failure(Error::Kind::connectFailed, errno);
    return fd;
}

std::expected<UniqueFd, UnixSocket::Error> UnixSocket::listen(std::string_view path, int backlog) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return failure(Error::Kind::createFailed, errno);
    auto addr = address(path);
    if (!addr) return std::unexpected(addr.error());
    struct stat st{};
    if (::lstat(addr->sun_path, &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(addr->sun_path);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0 ||
        ::listen(fd.get(), backlog) != 0) {
        return failure(Error::Kind::connectFailed, errno);
    }
    return fd;
}

ssize_t UnixSocket::sendOnce(int fd, const void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(fd, data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace tw
