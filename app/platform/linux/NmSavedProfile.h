#pragma once

#include <QString>

#include "NmConnectionSettings.h"
#include "NmProfile.h"

namespace tw {

// A profile as NetworkManager holds it: its object path (which may change), its whole settings
// and our reading of them.
struct NmSavedProfile {
    QString path;
    NmConnectionSettings settings;
    NmProfile profile;
};

}  // namespace tw
