#include "helper/DaemonLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "helper/PosixError.h"

namespace tw {

namespace {

bool isSafe(const struct stat& status) {
    const bool ownOwner = status.st_uid == 0 || status.st_uid == ::geteuid();
    return S_ISREG(status.st_mode) && ownOwner && status.st_nlink == 1;
}

}  // namespace

std::expected<UniqueFd, std::string> DaemonLogFile::open(const std::string& path) {
    // O_NONBLOCK: opening a FIFO planted at the path must not block the start.
    UniqueFd fd(::open(path.c_str(),
                       O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd) return std::unexpected(PosixError(errno, path).localizedDescription());
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return std::unexpected(PosixError(errno, path).localizedDescription());
    }
    if (!isSafe(status)) return std::unexpected("not a root-owned regular file with one link");
    // The daemon shares this open file description; it expects ordinary blocking writes.
    ::fcntl(fd.get(), F_SETFL, O_APPEND);
    return fd;
}

std::string DaemonLogFile::header(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return std::string("--- tarnwickd started at ") + stamp + " ---\n";
}

void DaemonLogFile::writeHeader(int fd, std::chrono::system_clock::time_point now) {
    const std::string line = header(now);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t count = ::write(fd, line.data() + done, line.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        done += static_cast<std::size_t>(count);
    }
}

}  // namespace tw
