#pragma once

#include <expected>
#include <memory>
#include <mutex>
#include <string>

#include "base/UniqueFd.h"
#include "helper/SystemLog.h"

namespace tw {

// Appends each message as one line to a file, so that tests of the helper process can read what
// it would have sent to the system log.
class SystemLogFile final : public SystemLog {
  public:
    // errno when the file cannot be opened for appending.
    static std::expected<std::unique_ptr<SystemLogFile>, int> open(const std::string& path);

    void notice(const std::string& message) override;

  private:
    explicit SystemLogFile(UniqueFd fd) : fd_(std::move(fd)) {}

    std::mutex mutex_;
    UniqueFd fd_;
};

}  // namespace tw
