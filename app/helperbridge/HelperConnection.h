#pragma once

#include <expected>
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
    };

    virtual ~HelperConnection() = default;

    // Connects and sends the request. Fails, with a description, when no connection can be
    // made; otherwise exactly one of the callbacks runs later, on a thread of the connection.
    virtual std::expected<void, std::string> runGoTool(const std::string& path,
                                                       const std::vector<std::string>& arguments,
                                                       Callbacks callbacks) = 0;
};

}  // namespace tw
