#pragma once

#include <memory>

#include "tests/support/FakeLocalAPI.h"
#include "tests/support/FakePeltoBus.h"
#include "tests/support/FakeVpnPlatform.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {

// What every test of the application state needs around it: the manual main queue, the log, a
// bundle folder, and fakes of the daemon and the VPN layer. Fixtures inherit it.
struct AppStateFakes {
    TempDir bundleDir_;
    TestLogger log_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeLocalAPI> api_ = std::make_shared<FakeLocalAPI>();
    std::shared_ptr<FakePeltoBus> bus_ = std::make_shared<FakePeltoBus>();
    std::shared_ptr<FakeVpnPlatform> vpnPlatform_ = std::make_shared<FakeVpnPlatform>();

    // Runs the main queue and the daemon's answers until neither has anything left.
    void settle() {
        do {
            api_->waitForAnswers();
        } while (main_->runUntilIdle() > 0);
    }
    void advance(double seconds) {
        main_->advance(seconds);
        settle();
    }
};

}  // namespace tw
