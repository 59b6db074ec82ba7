#include "helper/Syslog.h"

#include <syslog.h>

namespace tw {

Syslog::Syslog() { ::openlog("tarnwick-helper", LOG_PID, LOG_DAEMON); }

void Syslog::notice(const std::string& message) { ::syslog(LOG_NOTICE, "%s", message.c_str()); }

}  // namespace tw
