#include "devdaemon/HttpResponse.h"

#include "devdaemon/JsonWriter.h"

namespace tw {

namespace {

std::string_view reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 503: return "Service Unavailable";
        default: return "Unknown";
    }
}

}  // namespace

HttpResponse HttpResponse::error(int status, std::string_view message) {
    JsonWriter json;
    json.beginObject().key("error").string(message).endObject();
    return {status, json.text(), std::string(kJson)};
}

std::string HttpResponse::serialize() const {
    std::string text =
        "HTTP/1.1 " + std::to_string(status) + " " + std::string(reasonPhrase(status));
    text += "\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size());
    text += "\r\nConnection: close\r\n\r\n";
    return text + body;
}

}  // namespace tw
