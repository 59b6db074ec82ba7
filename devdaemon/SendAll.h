#pragma once

#include <string_view>

namespace tw {

// Writes every byte, one UnixSocket::sendOnce at a time; false as soon as one fails.
bool sendAll(int fd, std::string_view bytes);

}  // namespace tw
