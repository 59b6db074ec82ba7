#pragma once

#include "helper/SystemLog.h"

namespace tw {

// syslog(3) at notice level; journald keeps the records.
class Syslog final : public SystemLog {
  public:
    Syslog();
    void notice(const std::string& message) override;
};

}  // namespace tw
