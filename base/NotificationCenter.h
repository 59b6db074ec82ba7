#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/Subscription.h"

namespace tw {

// In-process broadcast of named events without payload, for parts of the application that must
// not know each other. Main queue only: `post` calls the observers of that name synchronously, in
// the order they were added. An observer may add or remove observers from inside its callback;
// one removed during a post is not called afterwards, one added during a post is called from the
// next post on. Subscriptions may outlive the center.
class NotificationCenter {
public:
    using Callback = std::function<void()>;

    NotificationCenter() : state_(std::make_shared<State>()) {}
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    void post(const std::string& name);
    [[nodiscard]] Subscription addObserver(std::string name, Callback callback);

private:
    struct Observer {
        std::string name;
        std::shared_ptr<Callback> callback;
    };
    struct State {
        std::uint64_t nextId = 0;
        std::map<std::uint64_t, Observer> observers;
    };

    std::shared_ptr<State> state_;
};

}  // namespace tw
