#pragma once

#include <simdjson.h>

#include <string_view>

namespace tw {

// Whether a full parse takes the text: the oracle for the strict decoders, which read in one
// forward pass and skip what they do not keep, yet must refuse every text a full parse refuses.
inline bool parsesAsJson(std::string_view text) {
    simdjson::dom::parser parser;
    return parser.parse(text.data(), text.size()).error() == simdjson::SUCCESS;
}

}  // namespace tw
