#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tw {

// Identity and login state as the menu shows it.
struct LoginViewState {
    bool isLoggedIn = false;
    std::string userName;
    std::string email;
    std::string domain;
    std::string hostName;
    std::int64_t nodeID = 0;
    std::string tarnwickIPs;  // the node's addresses joined with "," (no spaces)
    std::string backendState;
    std::string interactiveLoginUrl;
    std::optional<std::string> jailedReason;  // present exactly while the node is blocked

    bool operator==(const LoginViewState&) const = default;
};

}  // namespace tw
