#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tw {

// The channel to the privileged helper: every request opens a connection of its own, carries one
// runGoTool request and ends with its reply.
class HelperConnection {
public:
    struct Callbacks {
        std::function<void(const std::string& text)> reply;
        // The connection ended before a reply arrived; the text says why.
        std::function<void(const std::string& description)> lost;
        // No connection could be made; the text says why.
        std::function<void(const std::string& description)> unreachable;
    };

    virtual ~HelperConnection() = default;

    // Connects and sends the request, without waiting on the caller's thread: exactly one of the
    // callbacks runs later, on a thread of the connection.
    virtual void runGoTool(const std::string& path, const std::vector<std::string>& arguments,
                           Callbacks callbacks) = 0;
};

}  // namespace tw
