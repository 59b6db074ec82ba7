#include "app/shell/LoginLink.h"

#include <cctype>

namespace tw {

namespace {

// A URL's scheme: a letter, then letters, digits, "+", "-" or ".".
bool isScheme(std::string_view text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front()))) return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decoded; nothing for a broken escape, which makes the whole text no URL.
std::optional<std::string> decoded(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return result;
}

}  // namespace

std::optional<std::string> LoginLink::token(std::string_view url, std::string_view scheme,
                                            std::string_view item) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || !isScheme(url.substr(0, colon))) return std::nullopt;
    if (url.substr(0, colon) != scheme) return std::nullopt;
    const auto question = url.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    auto query = url.substr(question + 1);
    query = query.substr(0, query.find('#'));
    while (!query.empty()) {
        const auto end = query.find('&');
        const auto pair = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
        const auto equals = pair.find('=');
        const auto name = decoded(pair.substr(0, equals));
        if (!name) return std::nullopt;
        if (*name != item) continue;
        // The first item of that name decides, even when it carries nothing.
        if (equals == std::string_view::npos) return std::nullopt;
        auto value = decoded(pair.substr(equals + 1));
        if (!value || value->empty()) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace tw
