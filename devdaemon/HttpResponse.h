#pragma once

#include <string>
#include <string_view>

namespace tw {

// A complete answer, by default with a JSON body; the connection closes after it.
struct HttpResponse {
    static constexpr std::string_view kJson = "application/json";

    int status = 200;
    std::string body;
    std::string contentType = std::string(kJson);

    static HttpResponse ok(std::string body) { return {200, std::move(body), std::string(kJson)}; }
    static HttpResponse html(int status, std::string page) {
        return {status, std::move(page), "text/html; charset=utf-8"};
    }
    // {"error": message}
    static HttpResponse error(int status, std::string_view message);

    std::string serialize() const;
};

}  // namespace tw
