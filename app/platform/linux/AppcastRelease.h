#pragma once

#include <string>

#include "app/platform/linux/DottedVersion.h"

namespace tw {

// One release announced by an update feed.
struct AppcastRelease {
    DottedVersion version;
    std::string versionText;  // as the feed wrote it
    std::string link;         // where to download it (http or https)
};

}  // namespace tw
