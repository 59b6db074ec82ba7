#include "app/platform/linux/DottedVersion.h"

#include <algorithm>

namespace tw {

namespace {

std::strong_ordering compareNumbers(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() <=> b.size();
    return a.compare(b) <=> 0;
}

}  // namespace

std::optional<DottedVersion> DottedVersion::parse(std::string_view text) {
    DottedVersion version;
    for (;;) {
        const auto dot = text.find('.');
        const auto number = text.substr(0, dot);
        if (number.empty() || !std::all_of(number.begin(), number.end(),
                                           [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        const auto significant = std::min(number.find_first_not_of('0'), number.size());
        version.numbers_.emplace_back(number.substr(significant));
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    while (!version.numbers_.empty() && version.numbers_.back().empty())
        version.numbers_.pop_back();
    return version;
}

std::strong_ordering DottedVersion::operator<=>(const DottedVersion& other) const {
    static const std::string zero;
    const auto count = std::max(numbers_.size(), other.numbers_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto& mine = i < numbers_.size() ? numbers_[i] : zero;
        const auto& theirs = i < other.numbers_.size() ? other.numbers_[i] : zero;
        if (const auto order = compareNumbers(mine, theirs); order != 0) return order;
    }
    return std::strong_ordering::equal;
}

}  // namespace tw
