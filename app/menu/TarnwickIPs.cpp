#include "app/menu/TarnwickIPs.h"

namespace tw {

namespace {

std::string_view trimHorizontalSpace(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<TarnwickIPs> splitIPs(std::string_view text) {
    std::optional<std::string_view> ipv4;
    std::optional<std::string_view> ipv6;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const auto piece = trimHorizontalSpace(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        const bool hasColon = piece.find(':') != std::string_view::npos;
        if (!ipv6 && hasColon) ipv6 = piece;
        if (!ipv4 && !hasColon && piece.find('.') != std::string_view::npos) ipv4 = piece;
    }
    if (!ipv4 && !ipv6) return std::nullopt;
    return TarnwickIPs{std::string(ipv4.value_or("")), std::string(ipv6.value_or(""))};
}

}  // namespace tw
