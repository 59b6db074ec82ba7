#pragma once

#include <string_view>

namespace tw {

bool isValidUtf8(std::string_view text);

// `text` without the white space (Unicode's White_Space: ASCII spaces and line ends, NEL, no-break
// and typographic spaces, line and paragraph separators, the ideographic space) at either end.
// Independent of the process locale; bytes that are not UTF-8 count as text.
std::string_view trimmedWhitespace(std::string_view text);

}  // namespace tw
