#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/SerialQueue.h"

namespace tw {

// The application's one log sink. Every line goes to the log file, written in call order on one
// serial queue (the file is opened, appended and closed per line), and to the system log, on the
// caller's thread. There are no levels: every call is written. Nothing here ever fails towards
// the caller.
class AppLogger {
public:
    // Receives "[" category "] " message, once per call, on the caller's thread.
    using SystemLog = std::function<void(const std::string&)>;

    AppLogger(std::string logPath, SystemLog systemLog);
    ~AppLogger();
    AppLogger(const AppLogger&) = delete;
    AppLogger& operator=(const AppLogger&) = delete;

    void log(std::string_view category, std::string_view message);

    const std::string& logPath() const { return logPath_; }

    // Blocks until every line logged before the call has been written to the file.
    void waitUntilWritten();

    // The process-wide instance: the file under the user's data directory, the system log through
    // syslog(3) at notice level. Created on first use, never destroyed.
    static const std::shared_ptr<AppLogger>& shared();

    // "$XDG_DATA_HOME/Tarnwick/app.log", else "$HOME/.local/share/Tarnwick/app.log" (creating the
    // folder), else the temporary directory's "tarnwick-app.log".
    static std::string resolveLogPath();

    // "[" category "] " "yyyy-MM-dd HH:mm:ss.SSS" " " message "\n", local time.
    static std::string formatLine(std::string_view category, std::string_view message);

private:
    static void append(const std::string& line, const std::string& path);

    const std::string logPath_;
    const SystemLog systemLog_;
    SerialQueue queue_;
};

}  // namespace tw
