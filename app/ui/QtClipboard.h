#pragma once

#include "app/menu/Clipboard.h"

namespace tw {

// The desktop's clipboard through Qt.
class QtClipboard final : public Clipboard {
public:
    void setText(const std::string& text) override;
};

}  // namespace tw
