#pragma once

#include <functional>
#include <map>
#include <string>

#include "app/core/ApplicationEvents.h"

namespace tw {

// The desktop's events as the test delivers them, on the test's (the main) thread.
class FakeApplicationEvents final : public ApplicationEvents {
public:
    void setUrlHandler(std::function<void(const std::string&)> handler) override { urlHandler = std::move(handler); }
    Subscription observeDidBecomeActive(std::function<void()> handler) override {
        const int key = next_++;
        handlers_[key] = std::move(handler);
        return Subscription([this, key] { handlers_.erase(key); });
    }

    void open(const std::string& url) { urlHandler(url); }
    void becomeActive() {
        auto handlers = handlers_;
        for (auto& [key, handler] : handlers) handler();
    }
    std::size_t observers() const { return handlers_.size(); }

    std::function<void(const std::string&)> urlHandler;

private:
    std::map<int, std::function<void()>> handlers_;
    int next_ = 0;
};

}  // namespace tw
