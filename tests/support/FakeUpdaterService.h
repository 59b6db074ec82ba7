#pragma once

#include "app/core/UpdaterService.h"
#include "base/Observable.h"

namespace tw {

// An updater whose can-check flag the test sets; counts the checks asked for.
class FakeUpdaterService final : public UpdaterService {
  public:
    explicit FakeUpdaterService(bool canCheck = false) : canCheck_(canCheck) {}

    Observable<bool>& canCheckForUpdates() override { return canCheck_; }
    void checkForUpdates() override { ++checks; }

    int checks = 0;

  private:
    Observable<bool> canCheck_;
};

}  // namespace tw
