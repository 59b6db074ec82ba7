#pragma once

#include <memory>

#include "app/daemon/PeltoBus.h"

namespace tw {

// Records what the application asks of the event stream; tests call the delegate themselves.
class FakePeltoBus final : public PeltoBus {
public:
    void setDelegate(std::weak_ptr<PeltoBusClientDelegate> receiver) override { delegate = std::move(receiver); }
    void start() override { ++starts; }
    void stop() override { ++stops; }
    void logout() override { ++logouts; }

    std::weak_ptr<PeltoBusClientDelegate> delegate;
    int starts = 0, stops = 0, logouts = 0;
};

}  // namespace tw
