#include "tests/support/TestLogger.h"

#include <algorithm>

namespace tw {

TestLogger::TestLogger() : records_(std::make_shared<Records>()) {
    logger_ = std::make_shared<AppLogger>(dir_.file("app.log"),
                                          [records = records_](const std::string& record) {
                                              {
                                                  std::lock_guard lock(records->mutex);
                                                  records->lines.push_back(record);
                                              }
                                              records->changed.notify_all();
                                          });
}

std::vector<std::string> TestLogger::records() const {
    std::lock_guard lock(records_->mutex);
    return records_->lines;
}

std::size_t TestLogger::count(const std::string& record) const {
    std::lock_guard lock(records_->mutex);
    return static_cast<std::size_t>(
        std::count(records_->lines.begin(), records_->lines.end(), record));
}

bool TestLogger::waitFor(const std::string& record, std::size_t times,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(records_->mutex);
    return records_->changed.wait_for(lock, timeout, [&] {
        return static_cast<std::size_t>(std::count(records_->lines.begin(), records_->lines.end(),
                                                    record)) >= times;
    });
}

}  // namespace tw
