#pragma once

#include <string>
#include <vector>

#include "app/core/UrlOpener.h"

namespace tw {

// A desktop that records what it is asked to open and opens everything.
class FakeUrlOpener final : public UrlOpener {
public:
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }

    std::vector<std::string> opened;
};

}  // namespace tw
