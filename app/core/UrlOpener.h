#pragma once

#include <string>

namespace tw {

// Opens a URL or a local folder with the desktop's default handler.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // False when the text is no URL or nothing could open it.
    virtual bool open(const std::string& url) = 0;
};

}  // namespace tw
