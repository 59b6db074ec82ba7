#pragma once

#include <cstdint>

namespace tw {

// How a request that did not fail ended. The platform may report values not listed here.
enum class SystemExtensionRequestResult : std::int64_t {
    completed = 0,
    willCompleteAfterReboot = 1,
};

}  // namespace tw
