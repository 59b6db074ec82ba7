#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/UniqueFd.h"

namespace tw {

namespace {

std::unexpected<int> lastError() { return std::unexpected(errno); }

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The rename is durable only once the folder's entry is on disk too.
void syncFolder(const std::filesystem::path& folder) {
    UniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

}  // namespace

std::expected<std::string, int> AtomicFile::read(const std::filesystem::path& path,
                                                 std::size_t maxBytes) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) return lastError();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return lastError();
    if (S_ISDIR(st.st_mode)) return std::unexpected(EISDIR);
    if (!S_ISREG(st.st_mode)) return std::unexpected(EINVAL);
    std::string content;
    char chunk[8192];
    // The size is checked on the bytes read, not on fstat's figure: the file may grow meanwhile.
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return lastError();
        if (n == 0) return content;
        if (content.size() + static_cast<std::size_t>(n) > maxBytes) return std::unexpected(EFBIG);
        content.append(chunk, static_cast<std::size_t>(n));
    }
}

std::expected<void, int> AtomicFile::write(const std::filesystem::path& path,
                                           std::string_view content, mode_t mode) {
    // A hidden name with a random suffix: readers that scan the folder for their own file names
    // (*.json, *.desktop) never pick it up.
    std::string temporary =
        (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) return lastError();
    if (::fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), content) || ::fsync(fd.get()) != 0 ||
        ::close(fd.release()) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return std::unexpected(error);
    }
    syncFolder(path.parent_path());
    return {};
}

}  // namespace tw
