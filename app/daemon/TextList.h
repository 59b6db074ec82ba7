#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

namespace tw {

// A list of texts held elsewhere: a decoded notification keeps them (see PeltoBusNotify).
class TextList {
  public:
    using value_type = std::string_view;
    using const_iterator = std::span<const std::string_view>::iterator;

    TextList() = default;
    TextList(std::span<const std::string_view> items) : items_(items) {}

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    std::string_view operator[](std::size_t index) const { return items_[index]; }

    bool operator==(const TextList& other) const { return std::ranges::equal(items_, other.items_); }

  private:
    std::span<const std::string_view> items_;
};

}  // namespace tw
