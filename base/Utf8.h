#pragma once

#include <string_view>

namespace tw {

bool isValidUtf8(std::string_view text);

}  // namespace tw
