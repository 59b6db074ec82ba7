#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/helperbridge/HelperConnection.h"

namespace tw {

// The helper's channel in the tests. Pings (the daemon with "--help") are answered from
// `pingAnswers` in order — true a reply, false a lost connection — and held when it runs dry,
// for the test to answer with `answerHeldPing`. Every other request gets the reply "ok".
class FakeHelperConnection final : public HelperConnection {
public:
    struct Request {
        std::string path;
        std::vector<std::string> arguments;
    };

    void runGoTool(const std::string& path, const std::vector<std::string>& arguments,
                   Callbacks callbacks) override {
        std::unique_lock lock(mutex_);
        requests_.push_back({path, arguments});
        if (arguments != std::vector<std::string>{"--help"}) {
            lock.unlock();
            callbacks.reply("ok");
            return;
        }
        if (pingAnswers.empty()) {
            held_.push_back(std::move(callbacks));
            return;
        }
        const bool reachable = pingAnswers.front();
        pingAnswers.pop_front();
        lock.unlock();
        reachable ? callbacks.reply("usage") : callbacks.unreachable("Connection refused");
    }

    void answerHeldPing(bool reachable) {
        Callbacks callbacks;
        {
            std::lock_guard lock(mutex_);
            callbacks = std::move(held_.front());
            held_.pop_front();
        }
        reachable ? callbacks.reply("usage") : callbacks.unreachable("Connection refused");
    }

    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // How many requests carried `first` as their first argument.
    std::size_t count(const std::string& first) const {
        std::size_t total = 0;
        for (const auto& request : requests()) total += !request.arguments.empty() && request.arguments[0] == first;
        return total;
    }

    std::deque<bool> pingAnswers;

private:
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::deque<Callbacks> held_;
};

}  // namespace tw
