#pragma once

#include <QString>

#include "app/platform/linux/NmConnectionSettings.h"
#include "app/platform/linux/NmProfile.h"

namespace tw {

// A profile as NetworkManager holds it: its object path (which may change), its whole settings
// and our reading of them.
struct NmSavedProfile {
    QString path;
    NmConnectionSettings settings;
    NmProfile profile;
};

}  // namespace tw
