#pragma once

#include <string>
#include <string_view>

namespace tw {

// A complete answer with a JSON body; the connection closes after it.
struct HttpResponse {
    int status = 200;
    std::string body;

    static HttpResponse ok(std::string body) { return {200, std::move(body)}; }
    // {"error": message}
    static HttpResponse error(int status, std::string_view message);

    std::string serialize() const;
};

}  // namespace tw
