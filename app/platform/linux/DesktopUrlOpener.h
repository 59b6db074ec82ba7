#pragma once

#include "app/core/UrlOpener.h"

namespace tw {

// Opens URLs and folders with the desktop's default handler (xdg-open or the portal, through
// QDesktopServices). Runs on the Qt main thread.
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const std::string& url) override;
};

}  // namespace tw
