#include "app/daemon/StreamFramer.h"

#include <cstring>
#include <utility>

#include "app/daemon/LocalAPIResponse.h"

namespace tw {

StreamFramer::StreamFramer(std::size_t maxPendingBytes, std::size_t handOverSize)
    : maxPendingBytes_(maxPendingBytes), handOverSize_(handOverSize) {
    reset();
}

void StreamFramer::reset() {
    buffer_ = std::string(PaddedLine::kPadding, '\0');
    consumed_ = scanned_ = 0;
    headersReceived_ = false;
}

bool StreamFramer::append(const char* data, std::size_t size, const LineHandler& onLine) {
    buffer_.insert(received(), data, size);
    if (headersReceived_ || skipHeader()) splitLines(onLine);
    compact();
    return pendingBytes() <= maxPendingBytes_;
}

bool StreamFramer::skipHeader() {
    // The blank line may straddle two reads: search again from just before the new bytes.
    const std::size_t from = scanned_ > LocalAPIResponse::kHeaderEnd.size() - 1
                                 ? scanned_ - (LocalAPIResponse::kHeaderEnd.size() - 1)
                                 : 0;
    const auto end = receivedBytes().find(LocalAPIResponse::kHeaderEnd, from);
    if (end == std::string_view::npos) {
        scanned_ = received();
        return false;
    }
    consumed_ = scanned_ = end + LocalAPIResponse::kHeaderEnd.size();
    headersReceived_ = true;
    return true;
}

void StreamFramer::splitLines(const LineHandler& onLine) {
    for (;;) {
        const char* begin = buffer_.data();
        const void* lf = std::memchr(begin + scanned_, '\n', received() - scanned_);
        if (!lf) break;
        const auto end = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
        const std::string_view line(begin + consumed_, end - consumed_);
        consumed_ = scanned_ = end + 1;
        if (!line.empty()) onLine(PaddedLine{line});
    }
    scanned_ = received();
}

OwnedLine StreamFramer::takeLine(PaddedLine line) {
    if (line.text.size() < handOverSize_) return OwnedLine::copyOf(line.text);
    const auto offset = static_cast<std::size_t>(line.text.data() - buffer_.data());
    // splitLines has moved past the line already: what follows it starts at consumed_.
    OwnedLine taken{std::exchange(buffer_, buffer_.substr(consumed_)), offset, line.text.size()};
    scanned_ -= consumed_;
    consumed_ = 0;
    return taken;
}

void StreamFramer::releaseLargeBuffer() {
    if (!holdsLargeBuffer()) return;
    buffer_.erase(0, consumed_);
    scanned_ -= consumed_;
    consumed_ = 0;
    buffer_.shrink_to_fit();
}

void StreamFramer::compact() {
    // Drop handled bytes once they make up most of the buffer, so that each byte moves at most a
    // few times.
    if (consumed_ > 0 && consumed_ * 2 >= received()) {
        buffer_.erase(0, consumed_);
        scanned_ -= consumed_;
        consumed_ = 0;
    }
}

}  // namespace tw
