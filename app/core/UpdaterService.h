#pragma once

#include "base/Observable.h"

namespace tw {

// The application's update checker. Lives on the main queue.
class UpdaterService {
  public:
    virtual ~UpdaterService() = default;

    // Whether a check can start now. False when no feed is configured and while a check runs.
    virtual Observable<bool>& canCheckForUpdates() = 0;
    // Starts a check that tells the user its outcome itself; ignored while one cannot start.
    virtual void checkForUpdates() = 0;
};

}  // namespace tw
