#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tw {

// The system log of the sandbox: a datagram socket at /dev/log (the sandbox's /dev is its own),
// whose records the test reads instead of a journal.
class SyslogSink {
public:
    struct Record {
        int facility = -1;
        int severity = -1;
        std::string identifier;  // the tag before "[pid]: "
        std::string message;
    };

    SyslogSink();
    ~SyslogSink();
    SyslogSink(const SyslogSink&) = delete;
    SyslogSink& operator=(const SyslogSink&) = delete;

    // Every record received so far.
    const std::vector<Record>& records();
    // Waits (real time) for a record with this message.
    bool waitFor(const std::string& message,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    void drain(std::chrono::milliseconds wait);
    static Record parse(const std::string& datagram);

    int fd_ = -1;
    std::vector<Record> records_;
};

}  // namespace tw
