#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tw {

// One login profile of the stand-in node. A profile without an account is empty: created by
// "switch to empty" or logged out, waiting for a login.
struct StandInProfile {
    struct Account {
        std::int64_t nodeId = 0;
        std::int64_t userId = 0;
        std::string loginName;  // the user's email
        std::string displayName;
        std::string network;  // the DNS label between the host name and the fixed suffix
        bool operator==(const Account&) const = default;
    };

    std::string id;
    std::string name;
    std::optional<Account> account;

    bool operator==(const StandInProfile&) const = default;
};

}  // namespace tw
