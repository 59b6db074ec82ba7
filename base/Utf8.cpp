#include "base/Utf8.h"

#include <simdjson.h>

namespace tw {

namespace {

bool isWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The code point encoded by exactly the bytes of `sequence`, or a value that is no white space
// when they are not one well-formed sequence. Every white-space code point is below U+10000, so
// sequences of up to three bytes suffice.
char32_t decodeOne(std::string_view sequence) {
    constexpr char32_t kNone = 0xFFFF'FFFF;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
    const auto continuation = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
    switch (sequence.size()) {
        case 1: return byte(0) < 0x80 ? byte(0) : kNone;
        case 2:
            if ((byte(0) & 0xE0) != 0xC0 || byte(0) < 0xC2 || !continuation(1)) return kNone;
            return ((byte(0) & 0x1Fu) << 6) | (byte(1) & 0x3Fu);
        case 3: {
            if ((byte(0) & 0xF0) != 0xE0 || !continuation(1) || !continuation(2)) return kNone;
            const char32_t c = ((byte(0) & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
            return c < 0x800 ? kNone : c;
        }
        default: return kNone;
    }
}

std::size_t leadingLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    return 4;
}

}  // namespace

bool isValidUtf8(std::string_view text) { return simdjson::validate_utf8(text.data(), text.size()); }

std::string_view trimmedWhitespace(std::string_view text) {
    for (;;) {
        if (text.empty()) return text;
        const auto length = leadingLength(static_cast<unsigned char>(text.front()));
        if (length > text.size() || !isWhitespace(decodeOne(text.substr(0, length)))) break;
        text.remove_prefix(length);
    }
    for (;;) {
        // Back over at most two continuation bytes to the start of the last sequence.
        std::size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 3 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;
        }
        if (!isWhitespace(decodeOne(text.substr(start)))) return text;
        text.remove_suffix(text.size() - start);
        if (text.empty()) return text;
    }
}

}  // namespace tw
