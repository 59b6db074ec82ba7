#pragma once

#include <string>
#include <vector>

#include "app/menu/Clipboard.h"

namespace tw {

// A clipboard that remembers every text put on it.
class FakeClipboard final : public Clipboard {
public:
    void setText(const std::string& text) override { texts.push_back(text); }

    std::vector<std::string> texts;
};

}  // namespace tw
