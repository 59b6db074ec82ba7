#include "StreamFramer.h"

#include <cstring>

namespace tw {

namespace {
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
}

void StreamFramer::reset() {
    buffer_ = std::string();
    consumed_ = scanned_ = 0;
    headersReceived_ = false;
}

bool StreamFramer::append(const char* data, std::size_t size, const LineHandler& onLine) {
    buffer_.append(data, size);
    if (headersReceived_ || skipHeader()) splitLines(onLine);
    compact();
    return pendingBytes() <= maxPendingBytes_;
}

bool StreamFramer::skipHeader() {
    // The blank line may straddle two reads: search again from just before the new bytes.
    const std::size_t from = scanned_ > kHeaderEnd.size() - 1 ? scanned_ - (kHeaderEnd.size() - 1) : 0;
    const auto end = buffer_.find(kHeaderEnd, from);
    if (end == std::string::npos) {
        scanned_ = buffer_.size();
        return false;
    }
    consumed_ = scanned_ = end + kHeaderEnd.size();
    headersReceived_ = true;
    return true;
}

void StreamFramer::splitLines(const LineHandler& onLine) {
    for (;;) {
        const char* begin = buffer_.data();
        const void* lf = std::memchr(begin + scanned_, '\n', buffer_.size() - scanned_);
        if (!lf) break;
        const auto end = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
        const std::string_view line(begin + consumed_, end - consumed_);
        consumed_ = scanned_ = end + 1;
        if (!line.empty()) onLine(line);
    }
    scanned_ = buffer_.size();
}

void StreamFramer::compact() {
    // Drop handled bytes once they make up most of the buffer, so that each byte moves at most a
    // few times.
    if (consumed_ > 0 && consumed_ * 2 >= buffer_.size()) {
        buffer_.erase(0, consumed_);
        scanned_ -= consumed_;
        consumed_ = 0;
    }
}

}  // namespace tw
