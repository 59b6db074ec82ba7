#include "devdaemon/HttpRequest.h"

#include <simdjson.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tw {

namespace {

using Failure = std::unexpected<std::string>;

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::expected<std::string, std::string> percentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
            const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
            if (low < 0) return Failure("bad percent escape in the query");
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    // Query values end up in JSON answers, which must stay valid UTF-8.
    if (!simdjson::validate_utf8(decoded)) return Failure("the query is not UTF-8");
    return decoded;
}

std::expected<std::map<std::string, std::string>, std::string> parseQuery(std::string_view text) {
    std::map<std::string, std::string> query;
    while (!text.empty()) {
        const auto end = std::min(text.find('&'), text.size());
        const auto pair = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (pair.empty()) continue;
        const auto equals = std::min(pair.find('='), pair.size());
        auto name = percentDecoded(pair.substr(0, equals));
        auto value = percentDecoded(pair.substr(std::min(equals + 1, pair.size())));
        if (!name) return Failure(name.error());
        if (!value) return Failure(value.error());
        query.try_emplace(std::move(*name), std::move(*value));
    }
    return query;
}

bool isVisible(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f;
    });
}

// "METHOD TARGET HTTP/1.x" into the request's method, path and query.
std::expected<void, std::string> parseRequestLine(std::string_view line, HttpRequest& request) {
    const auto firstSpace = line.find(' ');
    const auto secondSpace = line.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos) return Failure("malformed request line");
    const auto method = line.substr(0, firstSpace);
    const auto target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const auto version = line.substr(secondSpace + 1);
    if (!isVisible(method) || !target.starts_with('/') || !isVisible(target)) {
        return Failure("malformed request line");
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return Failure("unsupported HTTP version");
    const auto question = std::min(target.find('?'), target.size());
    auto query = parseQuery(target.substr(std::min(question + 1, target.size())));
    if (!query) return Failure(query.error());
    request.method = method;
    request.path = target.substr(0, question);
    request.query = std::move(*query);
    return {};
}

// The header lines after the request line; returns the body length they announce.
std::expected<std::size_t, std::string> parseHeaders(std::string_view lines) {
    std::optional<std::size_t> length;
    while (!lines.empty()) {
        const auto end = std::min(lines.find(kLineEnd), lines.size());
        const auto line = lines.substr(0, end);
        lines.remove_prefix(std::min(end + kLineEnd.size(), lines.size()));
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || !isVisible(line.substr(0, colon))) {
            return Failure("malformed header line");
        }
        const auto name = line.substr(0, colon);
        const auto value = trimmed(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "Transfer-Encoding")) {
            return Failure("Transfer-Encoding is not supported");
        }
        if (!equalsIgnoringCase(name, "Content-Length")) continue;
        std::size_t parsed = 0;
        const auto [rest, error] =
            std::from_chars(value.data(), value.data() + value.size(), parsed);
        if (value.empty() || error != std::errc() || rest != value.data() + value.size()) {
            return Failure("bad Content-Length");
        }
        if (length && *length != parsed) return Failure("conflicting Content-Length headers");
        length = parsed;
    }
    return length.value_or(0);
}

}  // namespace

std::expected<std::map<std::string, std::string>, std::string> HttpRequest::formFields() const {
    return parseQuery(body);
}

std::optional<std::string_view> HttpRequest::queryValue(std::string_view name) const {
    const auto found = query.find(std::string(name));
    if (found == query.end()) return std::nullopt;
    return found->second;
}

std::expected<std::optional<HttpRequest>, std::string> HttpRequest::parse(std::string_view bytes) {
    const auto headerEnd = bytes.substr(0, kMaxSize).find(kHeaderEnd);
    if (headerEnd == std::string_view::npos) {
        if (bytes.size() >= kMaxSize) return Failure("request too large");
        return std::nullopt;
    }
    const auto header = bytes.substr(0, headerEnd);
    const auto lineEnd = std::min(header.find(kLineEnd), header.size());
    HttpRequest request;
    if (auto line = parseRequestLine(header.substr(0, lineEnd), request); !line) {
        return Failure(line.error());
    }
    const auto length =
        parseHeaders(header.substr(std::min(lineEnd + kLineEnd.size(), header.size())));
    if (!length) return Failure(length.error());
    const auto bodyStart = headerEnd + kHeaderEnd.size();
    if (*length > kMaxSize - bodyStart) return Failure("request too large");
    if (bytes.size() < bodyStart + *length) return std::nullopt;
    request.body = bytes.substr(bodyStart, *length);
    return request;
}

}  // namespace tw
