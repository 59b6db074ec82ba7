#include "helper/HelperListener.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>

#include <filesystem>

#include "base/UnixSocket.h"
#include "helper/PosixError.h"

namespace tw {

namespace {

std::expected<UniqueFd, std::string> activatedSocket(int count) {
    if (count != 1) {
        return std::unexpected("expected one socket from systemd, got " + std::to_string(count));
    }
    const int fd = SD_LISTEN_FDS_START;
    if (::sd_is_socket_unix(fd, SOCK_STREAM, 1, nullptr, 0) <= 0) {
        return std::unexpected(
            std::string("the socket from systemd is no listening stream socket"));
    }
    return UniqueFd(fd);
}

std::expected<UniqueFd, std::string> boundSocket(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error)
        return std::unexpected("cannot create the folder of " + path + ": " + error.message());
    auto socket = UnixSocket::listen(path);
    if (!socket) {
        const int code =
            socket.error().errorNumber != 0 ? socket.error().errorNumber : ENAMETOOLONG;
        return std::unexpected("cannot listen on " + path + ": " +
                               PosixError(code, path).localizedDescription());
    }
    if (::chmod(path.c_str(), 0666) != 0) {
        return std::unexpected("cannot open " + path + " to local users: " +
                               PosixError(errno, path).localizedDescription());
    }
    return std::move(*socket);
}

}  // namespace

std::expected<UniqueFd, std::string> HelperListener::open(const std::string& path) {
    const int count = ::sd_listen_fds(1);
    if (count < 0) {
        return std::unexpected("socket activation failed: " +
                               PosixError(-count, path).localizedDescription());
    }
    return count == 0 ? boundSocket(path) : activatedSocket(count);
}

}  // namespace tw
