#pragma once

#include <cstdlib>
#include <string>

namespace tw {

// The value of an environment variable; "" when it is unset or empty.
inline std::string nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string();
}

}  // namespace tw
