#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>

namespace tw {

// Reads LF-terminated lines from a stream descriptor, never holding much more than the cap in
// memory however the bytes arrive. Both ends of the helper's socket frame their lines with it.
class LineReader {
  public:
    enum class End {
        closed,        // the peer stopped sending after a complete line
        unterminated,  // the peer stopped sending in the middle of a line
        tooLong,       // a line exceeded the cap; the stream cannot be resynchronised
        readFailed,    // read() failed, for example on a receive timeout, or the deadline passed
    };
    using Deadline = std::chrono::steady_clock::time_point;

    LineReader(int fd, std::size_t maxLineBytes) : fd_(fd), maxLineBytes_(maxLineBytes) {}

    // The next line without its LF.
    std::expected<std::string, End> next();
    // The same, but the whole line must have arrived by `deadline`, however slowly its bytes
    // trickle in: a receive timeout alone bounds only each read.
    std::expected<std::string, End> next(Deadline deadline);

  private:
    // Reads once more; false at end of stream or on an error, with `end_` set.
    bool fill();
    // Whether bytes arrived before the deadline; false (with `end_` set) otherwise.
    bool waitForBytes();

    int fd_;
    std::size_t maxLineBytes_;
    std::string buffer_;
    std::size_t scanned_ = 0;  // bytes of buffer_ already searched for LF
    End end_ = End::closed;
    std::optional<Deadline> deadline_;
};

}  // namespace tw
