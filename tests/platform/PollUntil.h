#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tw {

// Looks at `done()` every few milliseconds until it holds: for conditions outside the process
// (devices, files, other threads). The limit is only a safety net, never what a test checks.
inline bool pollUntil(const std::function<bool()>& done,
                      std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace tw
