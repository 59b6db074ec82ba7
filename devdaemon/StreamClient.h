#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/UniqueFd.h"

namespace tw {

// The sending side of one event-stream connection. Lines are queued by whoever publishes them
// and written by the connection's own thread, so a slow reader holds up nobody but itself.
class StreamClient {
public:
    // A reader that lets more than this pile up is cut off. One line alone is always queued,
    // however long: a large network map is larger than this.
    static constexpr std::size_t kMaxBacklog = 4 * 1024 * 1024;

    // `fd` is the connected socket; it stays owned by the caller and must stay open until run()
    // has returned and push() can no longer be called. Nothing when no wake-up pipe can be made.
    static std::unique_ptr<StreamClient> open(int fd);

    // Queues one line (the line end is added). Any thread; never blocks.
    void push(std::string_view line);

    // Writes the queued lines until the reader goes away, a write fails, the reader is cut off
    // or the socket is shut down.
    void run();

private:
    StreamClient(int fd, UniqueFd wakeRead, UniqueFd wakeWrite);
    bool readerStillThere();
    // Nothing once the reader is cut off.
    std::optional<std::string> takeBacklog();

    const int fd_;
    const UniqueFd wakeRead_;
    const UniqueFd wakeWrite_;
    std::mutex mutex_;
    std::string backlog_;
    bool cutOff_ = false;
};

}  // namespace tw
