#include "packettunnel/SystemProviderLog.h"

#include <syslog.h>

#include <cstdio>

namespace tw {

SystemProviderLog::SystemProviderLog(std::string identifier, std::string category)
    : identifier_(std::move(identifier)), category_(std::move(category)) {
    ::openlog(identifier_.c_str(), LOG_PID, LOG_DAEMON);
}

SystemProviderLog::~SystemProviderLog() { ::closelog(); }

void SystemProviderLog::console(std::string_view text) {
    // Written as data, never as a format: texts carry the platform's error descriptions.
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

void SystemProviderLog::system(Level level, std::string_view text) {
    const std::string record = "[" + category_ + "] " + std::string(text);
    ::syslog(level == Level::error ? LOG_ERR : LOG_INFO, "%s", record.c_str());
}

}  // namespace tw
