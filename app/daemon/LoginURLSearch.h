#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tw {

// Finds the interactive login URL in a login response body: first the known keys on the top-level
// object, in order, then a walk of the whole object. Nothing when the body is not a JSON object
// or holds no non-empty URL under one of the keys. The walk uses its own stack, so however deeply
// the body nests it cannot overflow the thread's stack.
std::optional<std::string> extractInteractiveLoginURL(std::string_view body);

}  // namespace tw
