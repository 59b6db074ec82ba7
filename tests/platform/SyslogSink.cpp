#include "tests/platform/SyslogSink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tw {

namespace {

constexpr const char* kPath = "/dev/log";

}  // namespace

SyslogSink::SyslogSink() {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, kPath);
    ::unlink(kPath);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind /dev/log");
    }
}

SyslogSink::~SyslogSink() {
    ::close(fd_);
    ::unlink(kPath);
}

SyslogSink::Record SyslogSink::parse(const std::string& datagram) {
    // "<PRI>Mmm dd hh:mm:ss identifier[pid]: message"
    Record record;
    const auto close = datagram.find('>');
    if (datagram.empty() || datagram[0] != '<' || close == std::string::npos) return record;
    const int priority = std::stoi(datagram.substr(1, close - 1));
    record.facility = priority / 8;
    record.severity = priority % 8;
    const auto tag = close + 1 + 16;  // after the timestamp and its space
    const auto colon = datagram.find(": ", tag);
    if (tag >= datagram.size() || colon == std::string::npos) return record;
    record.identifier = datagram.substr(tag, datagram.find('[', tag) - tag);
    record.message = datagram.substr(colon + 2);
    return record;
}

void SyslogSink::drain(std::chrono::milliseconds wait) {
    pollfd entry{fd_, POLLIN, 0};
    int timeout = static_cast<int>(wait.count());
    while (::poll(&entry, 1, timeout) == 1) {
        char buffer[8192];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        records_.push_back(parse(std::string(buffer, static_cast<std::size_t>(n))));
        timeout = 0;
    }
}

const std::vector<SyslogSink::Record>& SyslogSink::records() {
    drain(std::chrono::milliseconds(0));
    return records_;
}

bool SyslogSink::waitFor(const std::string& message, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (std::any_of(records_.begin(), records_.end(),
                        [&](const Record& record) { return record.message == message; })) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        drain(std::min(left, std::chrono::milliseconds(50)));
    }
}

}  // namespace tw
