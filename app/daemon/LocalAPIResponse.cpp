#include "app/daemon/LocalAPIResponse.h"

#include <charconv>
#include <vector>

#include "base/Utf8.h"

namespace tw {

namespace {

// Splits at single spaces, dropping empty pieces, into at most three parts (so that the reason
// phrase stays whole).
std::vector<std::string_view> statusLineParts(std::string_view line) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (at < line.size() && parts.size() < 3) {
        if (line[at] == ' ') {
            ++at;
            continue;
        }
        const std::size_t end = parts.size() == 2 ? line.size() : std::min(line.find(' ', at), line.size());
        parts.push_back(line.substr(at, end - at));
        at = end;
    }
    return parts;
}

}  // namespace

std::optional<LocalAPIResponse::Parts> LocalAPIResponse::split(std::string_view response) {
    const auto end = response.find(kHeaderEnd);
    if (end == std::string_view::npos) return std::nullopt;
    return Parts{response.substr(0, end), response.substr(end + kHeaderEnd.size())};
}

std::optional<std::int64_t> LocalAPIResponse::errorStatus(std::string_view header) {
    if (!isValidUtf8(header)) return std::nullopt;
    const auto parts = statusLineParts(header.substr(0, header.find("\r\n")));
    if (parts.size() < 2) return std::nullopt;
    std::int64_t code = 0;
    const auto* last = parts[1].data() + parts[1].size();
    const auto [end, ec] = std::from_chars(parts[1].data(), last, code);
    if (ec != std::errc() || end != last || code < 400) return std::nullopt;
    return code;
}

}  // namespace tw
