#include "base/UnixSocket.h"
#include "devdaemon/StreamClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>


namespace tw {

std::unique_ptr<StreamClient> StreamClient::open(int fd) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    return std::unique_ptr<StreamClient>(
        new StreamClient(fd, UniqueFd(pipeFds[0]), UniqueFd(pipeFds[1])));
}

StreamClient::StreamClient(int fd, UniqueFd wakeRead, UniqueFd wakeWrite)
    : fd_(fd), wakeRead_(std::move(wakeRead)), wakeWrite_(std::move(wakeWrite)) {}

void StreamClient::push(std::string_view line) {
    {
        std::lock_guard lock(mutex_);
        if (cutOff_) return;
        if (!backlog_.empty() && backlog_.size() + line.size() + 1 > kMaxBacklog) {
            cutOff_ = true;
            backlog_.clear();
            // Also ends a send that is blocked on the full socket.
            ::shutdown(fd_, SHUT_RDWR);
            return;
        }
        backlog_.append(line).append("\n");
    }
    // A full pipe already holds a wake-up.
    const char byte = 0;
    [[maybe_unused]] const auto ignored = ::write(wakeWrite_.get(), &byte, 1);
}

void StreamClient::run() {
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0 && !readerStillThere()) return;
        if (fds[1].revents == 0) continue;
        char drained[64];
        while (::read(wakeRead_.get(), drained, sizeof drained) > 0) {
        }
        const auto lines = takeBacklog();
        if (!lines || !UnixSocket::sendAll(fd_, *lines)) return;
    }
}

// Readers send nothing after their request, so readable means the end of the connection;
// anything else they send is read and ignored.
bool StreamClient::readerStillThere() {
    char ignored[256];
    const auto n = ::recv(fd_, ignored, sizeof ignored, MSG_DONTWAIT);
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

std::optional<std::string> StreamClient::takeBacklog() {
    std::lock_guard lock(mutex_);
    if (cutOff_) return std::nullopt;
    return std::exchange(backlog_, {});
}

}  // namespace tw
