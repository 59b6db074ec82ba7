#pragma once

#include <string_view>

namespace tw {

// The provider's two log channels: the process's console, and the system log under the
// provider's identifier and category.
class ProviderLog {
public:
    enum class Level { info, error };

    virtual ~ProviderLog() = default;

    // One line, written as it is.
    virtual void console(std::string_view text) = 0;
    virtual void system(Level level, std::string_view text) = 0;
};

}  // namespace tw
