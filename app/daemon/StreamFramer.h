#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/daemon/OwnedLine.h"
#include "app/daemon/PaddedLine.h"

namespace tw {

// Turns the bytes of one event-stream connection into lines: skips the response header (up to
// and including the first blank line, not inspected), then splits the body at LF. Empty lines are
// skipped; a CR before the LF stays in the line. Bytes are searched once however the lines fall
// across reads, and the pending part is bounded. Every line is handed out padded, where it lies
// in the framer's buffer, for the decoder to parse in place.
class StreamFramer {
public:
    using LineHandler = std::function<void(PaddedLine line)>;

    // Lines of `handOverSize` bytes or more are handed over in the buffer (see takeLine).
    explicit StreamFramer(std::size_t maxPendingBytes, std::size_t handOverSize = 64 * 1024);

    // Starts a new connection: the next bytes begin with a response header.
    void reset();
    // Feeds one read's bytes, calling `onLine` for every complete non-empty line. Returns false
    // once more than the limit is pending without a delimiter; the connection is then unusable.
    bool append(const char* data, std::size_t size, const LineHandler& onLine);
    // Takes the line just handed to `onLine`, from within `onLine`: a small line is copied; a
    // large one takes the whole buffer it lies in, and the framer keeps only the bytes after it.
    OwnedLine takeLine(PaddedLine line);
    // Bytes received and not yet handed out as lines (or skipped as header).
    std::size_t pendingBytes() const { return received() - consumed_; }
    // Whether the buffer has grown past what it keeps for ordinary lines (a large network map).
    bool holdsLargeBuffer() const { return buffer_.capacity() > kKeptCapacity; }
    // Gives a large buffer back, keeping whatever is pending.
    void releaseLargeBuffer();

private:
    static constexpr std::size_t kKeptCapacity = 1024 * 1024;

    // The bytes received, without the padding the buffer always ends with.
    std::size_t received() const { return buffer_.size() - PaddedLine::kPadding; }
    std::string_view receivedBytes() const { return {buffer_.data(), received()}; }
    bool skipHeader();
    void splitLines(const LineHandler& onLine);
    void compact();

    const std::size_t maxPendingBytes_;
    const std::size_t handOverSize_;
    std::string buffer_;  // the bytes received, then PaddedLine::kPadding zero bytes
    std::size_t consumed_ = 0;  // bytes at the front of buffer_ already handled
    std::size_t scanned_ = 0;   // bytes of buffer_ already searched for the next delimiter
    bool headersReceived_ = false;
};

}  // namespace tw
