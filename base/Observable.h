#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "base/Subscription.h"

namespace tw {

// A value owned by the main queue. `set` stores the value and calls every subscriber with it,
// synchronously, on the caller's (the main) thread. A subscriber may subscribe or unsubscribe
// others, or itself, from inside its callback; one removed during a notification is not called
// afterwards. Subscriptions may outlive the observable.
template <typename T>
class Observable {
public:
    using Callback = std::function<void(const T&)>;

    Observable() : state_(std::make_shared<State>()) {}
    explicit Observable(T initial) : value_(std::move(initial)), state_(std::make_shared<State>()) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const { return value_; }

    void set(T value) {
        value_ = std::move(value);
        notify();
    }

    // Stores and notifies only when the value differs from the current one.
    bool setIfChanged(T value) {
        if (value == value_) return false;
        set(std::move(value));
        return true;
    }

    [[nodiscard]] Subscription subscribe(Callback callback) {
        const auto id = state_->nextId++;
        state_->callbacks.emplace(id, std::make_shared<Callback>(std::move(callback)));
        return Subscription([weak = std::weak_ptr<State>(state_), id] {
            if (auto state = weak.lock()) state->callbacks.erase(id);
        });
    }

private:
    struct State {
        std::uint64_t nextId = 0;
        std::map<std::uint64_t, std::shared_ptr<Callback>> callbacks;
    };

    void notify() {
        std::vector<std::uint64_t> ids;
        ids.reserve(state_->callbacks.size());
        for (const auto& entry : state_->callbacks) ids.push_back(entry.first);
        const T snapshot = value_;
        for (auto id : ids) {
            auto it = state_->callbacks.find(id);
            if (it == state_->callbacks.end()) continue;
            auto callback = it->second;
            (*callback)(snapshot);
        }
    }

    T value_{};
    std::shared_ptr<State> state_;
};

}  // namespace tw
