#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "base/UniqueFd.h"

namespace tw {

// The one place that turns a path into a Unix stream socket address, shared by every client and
// server of a Unix socket in the project.
class UnixSocket {
public:
    // Longest path accepted, in bytes. 103 is the limit on every platform the daemon runs on,
    // although Linux's sun_path would hold 107.
    static constexpr std::size_t kMaxPathLength = 103;

    struct Error {
        enum class Kind { createFailed, pathTooLong, connectFailed };
        Kind kind;
        int errorNumber = 0;  // errno of the failed call; 0 for pathTooLong
    };

    // A zeroed address of family AF_UNIX with the path copied and zero-terminated; nothing when
    // the path is longer than kMaxPathLength.
    static std::expected<sockaddr_un, Error> address(std::string_view path);

    // Creates a stream socket (close-on-exec), checks the path and connects. When `timeout` is
    // positive it bounds the connect and every later send and receive on the socket (SO_SNDTIMEO,
    // SO_RCVTIMEO): a blocking call that waits longer fails with EAGAIN.
    static std::expected<UniqueFd, Error> connect(std::string_view path,
                                                  std::chrono::milliseconds timeout = {});

    // Creates a listening stream socket at `path`, replacing a stale socket file.
    static std::expected<UniqueFd, Error> listen(std::string_view path, int backlog = 64);

    // Bounds every later send (and a connect) on `fd`.
    static void setSendTimeout(int fd, std::chrono::milliseconds timeout);
    // Bounds every later receive on `fd`.
    static void setReceiveTimeout(int fd, std::chrono::milliseconds timeout);

    // Sends every byte, one sendOnce at a time; false as soon as one fails.
    static bool sendAll(int fd, std::string_view bytes);

    // One send call that never raises SIGPIPE. Returns the count written or -1 with errno set.
    static ssize_t sendOnce(int fd, const void* data, std::size_t size);
};

}  // namespace tw
