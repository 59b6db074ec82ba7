#include "shared/LineReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace tw {

std::expected<std::string, LineReader::End> LineReader::next() {
    for (;;) {
        if (const auto lf = buffer_.find('\n', scanned_); lf != std::string::npos) {
            if (lf > maxLineBytes_) return std::unexpected(End::tooLong);
            std::string line = buffer_.substr(0, lf);
            buffer_.erase(0, lf + 1);
            scanned_ = 0;
            return line;
        }
        scanned_ = buffer_.size();
        if (buffer_.size() > maxLineBytes_) return std::unexpected(End::tooLong);
        if (!fill()) {
            if (end_ == End::closed && !buffer_.empty()) return std::unexpected(End::unterminated);
            return std::unexpected(end_);
        }
    }
}

std::expected<std::string, LineReader::End> LineReader::next(Deadline deadline) {
    deadline_ = deadline;
    auto line = next();
    deadline_.reset();
    return line;
}

bool LineReader::waitForBytes() {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            *deadline_ - std::chrono::steady_clock::now());
        pollfd readable{fd_, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0) return true;
        end_ = End::readFailed;
        return false;
    }
}

bool LineReader::fill() {
    if (deadline_ && !waitForBytes()) return false;
    char chunk[16 * 1024];
    ssize_t count;
    do {
        count = ::read(fd_, chunk, sizeof chunk);
    } while (count < 0 && errno == EINTR);
    if (count > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(count));
        return true;
    }
    end_ = count == 0 ? End::closed : End::readFailed;
    return false;
}

}  // namespace tw
