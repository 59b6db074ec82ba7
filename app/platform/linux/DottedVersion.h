#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// A release version of dot-separated decimal numbers ("1.10.2"), ordered number by number; a
// missing number counts as 0, so "1.2" equals "1.2.0". Numbers of any length compare correctly.
class DottedVersion {
  public:
    // Nothing unless `text` is one or more runs of ASCII digits joined by single dots.
    static std::optional<DottedVersion> parse(std::string_view text);

    std::strong_ordering operator<=>(const DottedVersion& other) const;
    bool operator==(const DottedVersion& other) const { return (*this <=> other) == 0; }

  private:
    // Without leading zeros, and without the trailing zero numbers.
    std::vector<std::string> numbers_;
};

}  // namespace tw
