#pragma once

#include <cstddef>
#include <string_view>

namespace tw {

// A line followed in memory by at least kPadding more readable bytes of the same buffer, whatever
// they hold. The JSON parser reads ahead in wide loads: given such a line it parses the bytes
// where they lie, instead of first copying them into a padded buffer of its own (a tenth of a
// large network map's decode).
struct PaddedLine {
    static constexpr std::size_t kPadding = 64;

    std::string_view text;
};

}  // namespace tw
