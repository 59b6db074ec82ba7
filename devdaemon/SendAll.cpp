#include "SendAll.h"

#include "base/UnixSocket.h"

namespace tw {

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto sent = UnixSocket::sendOnce(fd, bytes.data(), bytes.size());
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

}  // namespace tw
