#include "helper/PosixError.h"

#include <cstring>

namespace tw {

std::string PosixError::localizedDescription() const {
    char buffer[256];
    // The GNU strerror_r: thread-safe, and it may return a static text instead of filling buffer.
    return ::strerror_r(code_, buffer, sizeof buffer);
}

std::string PosixError::fullDescription() const {
    return "Error Domain=POSIX Code=" + std::to_string(code_) + " \"" + localizedDescription() +
           "\" path=" + path_;
}

}  // namespace tw
