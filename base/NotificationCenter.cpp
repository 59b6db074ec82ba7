#include "base/NotificationCenter.h"

#include <vector>

namespace tw {

void NotificationCenter::post(const std::string& name) {
    // Observers are collected first and looked up again before each call, so that callbacks may
    // change the set of observers while the post is under way.
    std::vector<std::uint64_t> ids;
    for (const auto& [id, observer] : state_->observers) {
        if (observer.name == name) ids.push_back(id);
    }
    for (auto id : ids) {
        const auto it = state_->observers.find(id);
        if (it == state_->observers.end()) continue;
        const auto callback = it->second.callback;
        (*callback)();
    }
}

Subscription NotificationCenter::addObserver(std::string name, Callback callback) {
    const auto id = state_->nextId++;
    state_->observers.emplace(
        id, Observer{std::move(name), std::make_shared<Callback>(std::move(callback))});
    return Subscription([weak = std::weak_ptr<State>(state_), id] {
        if (auto state = weak.lock()) state->observers.erase(id);
    });
}

}  // namespace tw
