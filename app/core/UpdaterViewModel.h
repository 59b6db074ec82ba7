#pragma once

#include <memory>

#include "app/core/UpdaterService.h"
#include "base/Observable.h"
#include "base/Subscription.h"

namespace tw {

// The update checker as the menu sees it: the updater to ask for a check, and whether the menu's
// "check for updates" row is enabled, mirrored from the updater for as long as the view model
// lives. Lives on the main queue.
class UpdaterViewModel {
  public:
    explicit UpdaterViewModel(std::shared_ptr<UpdaterService> updater);

    const std::shared_ptr<UpdaterService>& updater() const { return updater_; }
    // Starts false, takes the updater's current value at once and every change after it.
    Observable<bool>& canCheckForUpdates() { return canCheckForUpdates_; }

  private:
    const std::shared_ptr<UpdaterService> updater_;
    Observable<bool> canCheckForUpdates_{false};
    Subscription mirror_;
};

}  // namespace tw
