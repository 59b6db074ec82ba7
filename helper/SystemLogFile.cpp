#include "helper/SystemLogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tw {

std::expected<std::unique_ptr<SystemLogFile>, int> SystemLogFile::open(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return std::unexpected(errno);
    return std::unique_ptr<SystemLogFile>(new SystemLogFile(std::move(fd)));
}

void SystemLogFile::notice(const std::string& message) {
    // One write per line, so that a reader never sees half of a message.
    const std::string line = message + '\n';
    const std::lock_guard lock(mutex_);
    [[maybe_unused]] const ssize_t written = ::write(fd_.get(), line.data(), line.size());
}

}  // namespace tw
