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

    // Three words, as a decoder builds one for every value it reads.
    JsonPath member(std::string_view key) const {
        return JsonPath(this, key.data() ? key.data() : "", key.size());
    }
    JsonPath element(std::size_t index) const { return JsonPath(this, nullptr, index); }

    std::string render() const {
        if (!parent_) return "top level";
        std::string text;
        appendTo(text);
        return text;
    }

  private:
    JsonPath(const JsonPath* parent, const char* key, std::size_t sizeOrIndex)
        : parent_(parent), key_(key), sizeOrIndex_(sizeOrIndex) {}

    void appendTo(std::string& text) const {
        if (!parent_) return;
        parent_->appendTo(text);
        if (!key_) {
            text += '[' + std::to_string(sizeOrIndex_) + ']';
        } else {
            if (!text.empty()) text += '.';
            text.append(key_, sizeOrIndex_);
        }
    }

    const JsonPath* parent_ = nullptr;
    const char* key_ = nullptr;  // an element's frame has none
    std::size_t sizeOrIndex_ = 0;
};

}  // namespace tw
