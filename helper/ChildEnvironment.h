#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tw {

// The environment handed to a child process: a copy of the helper's own, with entries replaced
// or added.
class ChildEnvironment {
  public:
    static ChildEnvironment ofThisProcess();

    // Replaces every entry named `name`, or adds one.
    void set(std::string_view name, std::string_view value);
    const std::vector<std::string>& entries() const { return entries_; }

  private:
    std::vector<std::string> entries_;  // "NAME=value"
};

}  // namespace tw
