#pragma once

#include <string>

#include "packettunnel/ProviderLog.h"

namespace tw {

// The console is standard error; the system log is syslog(3) under `identifier`, each record
// "[" category "] " text, at LOG_INFO or LOG_ERR.
class SystemProviderLog final : public ProviderLog {
public:
    SystemProviderLog(std::string identifier, std::string category);
    ~SystemProviderLog() override;
    SystemProviderLog(const SystemProviderLog&) = delete;
    SystemProviderLog& operator=(const SystemProviderLog&) = delete;

    void console(std::string_view text) override;
    void system(Level level, std::string_view text) override;

private:
    // openlog(3) keeps the pointer, so the text lives as long as the log.
    const std::string identifier_;
    const std::string category_;
};

}  // namespace tw
