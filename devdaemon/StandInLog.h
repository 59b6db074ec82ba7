#pragma once

#include <functional>
#include <string_view>

namespace tw {

// Where the stand-in daemon writes one line of its log; called from any thread.
using StandInLog = std::function<void(std::string_view message)>;

}  // namespace tw
