#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <string>
#include <vector>

#include "base/AppLogger.h"
#include "tests/support/TempDir.h"

namespace tw {

// An AppLogger writing into a temporary folder, whose system-log records ("[Category] message")
// are kept for the test to read instead of going to the host's journal.
class TestLogger {
public:
    TestLogger();

    const std::shared_ptr<AppLogger>& logger() const { return logger_; }
    std::vector<std::string> records() const;
    // How many records equal `record`.
    std::size_t count(const std::string& record) const;
    // Waits (real time) until `record` has been logged at least `times` times.
    bool waitFor(const std::string& record, std::size_t times = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    struct Records {
        mutable std::mutex mutex;
        mutable std::condition_variable changed;
        std::vector<std::string> lines;
    };

    TempDir dir_;
    std::shared_ptr<Records> records_;
    std::shared_ptr<AppLogger> logger_;
};

}  // namespace tw
