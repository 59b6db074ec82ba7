#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/daemon/PaddedLine.h"

namespace tw {

// A line inside a buffer that whoever decodes it may keep: `length` bytes at `offset`, followed
// by at least PaddedLine::kPadding more bytes of the buffer. A large line is handed over in the
// buffer it was read into, so its bytes are never copied.
struct OwnedLine {
    std::string buffer;
    std::size_t offset = 0;
    std::size_t length = 0;

    std::string_view text() const { return {buffer.data() + offset, length}; }

    static OwnedLine copyOf(std::string_view text) {
        OwnedLine line{std::string(text.size() + PaddedLine::kPadding, '\0'), 0, text.size()};
        text.copy(line.buffer.data(), text.size());
        return line;
    }
};

}  // namespace tw
