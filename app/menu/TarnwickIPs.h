#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tw {

// The node's own addresses as the menu shows them: at most one of each family. An empty member
// means the node has no address of that family.
struct TarnwickIPs {
    std::string ipv4;
    std::string ipv6;

    bool operator==(const TarnwickIPs&) const = default;
};

// Splits the comma-joined address text: the first piece with a "." and no ":" is the IPv4
// address, the first with a ":" the IPv6 address; pieces lose their surrounding spaces and tabs.
// Absent when the text holds neither.
std::optional<TarnwickIPs> splitIPs(std::string_view text);

}  // namespace tw
