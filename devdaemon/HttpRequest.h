#pragma once

#include <cstddef>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tw {

// One HTTP/1.x request as the daemon's clients write it: a request line, header lines, a blank
// line and a body of Content-Length bytes (none without the header). Chunked bodies are refused.
struct HttpRequest {
    // Header and body together; a request that does not fit is refused.
    static constexpr std::size_t kMaxSize = 64 * 1024;

    std::string method;
    std::string path;  // the target up to '?', as sent
    std::map<std::string, std::string> query;  // percent-decoded, '+' read as a space
    std::string body;
    // Not from the bytes: whether the sender is root (or the daemon's own user), as its socket
    // credentials say. Development requests are answered only then.
    bool peerIsPrivileged = false;

    std::optional<std::string_view> queryValue(std::string_view name) const;
    // The fields of an HTML form's body (application/x-www-form-urlencoded), decoded as the query.
    std::expected<std::map<std::string, std::string>, std::string> formFields() const;

    // Reads a request from the start of `bytes`: nothing while more bytes are needed, the reason
    // when they cannot become an acceptable request. Bytes after the body are ignored.
    static std::expected<std::optional<HttpRequest>, std::string> parse(std::string_view bytes);
};

}  // namespace tw
