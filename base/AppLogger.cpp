#include "base/AppLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>

#include "base/Environment.h"

namespace tw {

namespace {

std::string timestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const auto n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(millis));
    return text;
}

}  // namespace

AppLogger::AppLogger(std::string logPath, SystemLog systemLog)
    : logPath_(std::move(logPath)),
      systemLog_(std::move(systemLog)),
      queue_("com.tarnwick.desktop.applogger") {}

AppLogger::~AppLogger() = default;

void AppLogger::log(std::string_view category, std::string_view message) {
    queue_.post([line = formatLine(category, message), this] { append(line, logPath_); });
    if (systemLog_) {
        std::string record;
        record.reserve(category.size() + message.size() + 3);
        record.append("[").append(category).append("] ").append(message);
        systemLog_(record);
    }
}

void AppLogger::waitUntilWritten() { queue_.drain(); }

std::string AppLogger::formatLine(std::string_view category, std::string_view message) {
    std::string line;
    line.reserve(category.size() + message.size() + 32);
    line.append("[").append(category).append("] ").append(timestamp()).append(" ");
    line.append(message).append("\n");
    return line;
}

void AppLogger::append(const std::string& line, const std::string& path) {
    // O_APPEND keeps each line whole even when another process appends to the same file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

std::string AppLogger::resolveLogPath() {
    std::filesystem::path dataHome = nonEmptyEnv("XDG_DATA_HOME");
    // The XDG rules call a relative value invalid; honouring it would put the log wherever the
    // program happened to be started.
    if (dataHome.is_relative()) dataHome.clear();
    if (dataHome.empty()) {
        const auto home = nonEmptyEnv("HOME");
        if (!home.empty()) dataHome = std::filesystem::path(home) / ".local" / "share";
    }
    if (dataHome.empty()) {
        std::error_code ignored;
        auto tmp = std::filesystem::temp_directory_path(ignored);
        if (tmp.empty()) tmp = "/tmp";
        return (tmp / "tarnwick-app.log").string();
    }
    const auto folder = dataHome / "Tarnwick";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return (folder / "app.log").string();
}

const std::shared_ptr<AppLogger>& AppLogger::shared() {
    static auto* logger = new std::shared_ptr<AppLogger>(std::shared_ptr<AppLogger>(
        new AppLogger(resolveLogPath(),
                      [](const std::string& record) {
                          ::syslog(LOG_NOTICE, "%s", record.c_str());
                      }),
        [](AppLogger*) {}));
    return *logger;
}

}  // namespace tw
