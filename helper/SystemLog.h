#pragma once

#include <string>

namespace tw {

// Where the helper's messages go: the system log in production, a file in tests.
// Implementations may be called from several connection threads at once.
class SystemLog {
  public:
    virtual ~SystemLog() = default;
    virtual void notice(const std::string& message) = 0;
};

}  // namespace tw
