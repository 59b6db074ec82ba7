#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tw {

// Where a value sits in the document. Frames live on the stack of the decoding functions and are
// rendered into text only when decoding fails, so a successful decode never allocates for them.
class JsonPath {
  public:
    JsonPath() = default;

    JsonPath member(std::string_view key) const { return JsonPath(this, key, 0, false); }
    JsonPath element(std::size_t index) const { return JsonPath(this, {}, index, true); }

    std::string render() const {
        if (!parent_) return "top level";
        std::string text;
        appendTo(text);
        return text;
    }

  private:
    JsonPath(const JsonPath* parent, std::string_view key, std::size_t index, bool isIndex)
        : parent_(parent), key_(key), index_(index), isIndex_(isIndex) {}

    void appendTo(std::string& text) const {
        if (!parent_) return;
        parent_->appendTo(text);
        if (isIndex_) {
            text += '[' + std::to_string(index_) + ']';
        } else {
            if (!text.empty()) text += '.';
            text += key_;
        }
    }

    const JsonPath* parent_ = nullptr;
    std::string_view key_;
    std::size_t index_ = 0;
    bool isIndex_ = false;
};

}  // namespace tw
