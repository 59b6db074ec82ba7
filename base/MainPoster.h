#pragma once

#include <functional>
#include <memory>

#include "base/MainQueue.h"

namespace tw {

// Hands work for an owner to the main queue while holding the owner weakly, so that it is safe to
// keep in completions that may outlive the owner: the work runs only if the owner still exists
// when the main queue gets to it; otherwise `ifGone` runs (typically the caller's completion).
template <typename Owner>
class MainPoster {
public:
    MainPoster(std::shared_ptr<MainQueue> queue, std::weak_ptr<Owner> owner)
        : queue_(std::move(queue)), owner_(std::move(owner)) {}

    void operator()(std::function<void(Owner&)> work, std::function<void()> ifGone = {}) const {
        queue_->post([owner = owner_, work = std::move(work), ifGone = std::move(ifGone)] {
            if (auto self = owner.lock()) {
                work(*self);
            } else if (ifGone) {
                ifGone();
            }
        });
    }

private:
    std::shared_ptr<MainQueue> queue_;
    std::weak_ptr<Owner> owner_;
};

}  // namespace tw
