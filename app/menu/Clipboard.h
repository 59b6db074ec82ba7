#pragma once

#include <string>

namespace tw {

// The desktop's clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Clears the clipboard and puts the text on it as plain text.
    virtual void setText(const std::string& text) = 0;
};

}  // namespace tw
