#pragma once

#include <string>

namespace tw {

// Why the login item could not be registered or removed.
struct LoginItemError {
    enum class Code {
        programNotFound,  // the running program cannot be named in a login item
        notSaved,
        notRemoved,
    };

    Code code;
    int errorNumber = 0;  // errno of the failed call; 0 when there was none

    // The fixed text of the code, followed by the system's text for errorNumber when set.
    std::string description() const;

    bool operator==(const LoginItemError&) const = default;
};

}  // namespace tw
