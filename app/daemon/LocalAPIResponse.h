#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tw {

// The framing rules of a LocalAPI response. No header field is read: the daemon sends a plain
// body and closes, so the body is everything after the header.
class LocalAPIResponse {
public:
    // The blank line that ends an HTTP header.
    static constexpr std::string_view kHeaderEnd = "\r\n\r\n";

    struct Parts {
        std::string_view header;  // everything before the first blank line
        std::string_view body;    // everything after it
    };

    // Nothing when the response has no "\r\n\r\n".
    static std::optional<Parts> split(std::string_view response);

    // The status code when the status line carries a decimal code of 400 or more. A header that
    // is not UTF-8, a status line of fewer than two parts or a second part that is not a number
    // counts as success.
    static std::optional<std::int64_t> errorStatus(std::string_view header);
};

}  // namespace tw
