#include "app/daemon/LocalAPIError.h"

namespace tw {

std::string LocalAPIError::description() const {
    switch (kind_) {
        case Kind::connectFailed: return "Failed to connect to tarnwickd socket: " + message_;
        case Kind::writeFailed: return "Failed to write request: " + message_;
        case Kind::readFailed: return "Failed to read response: " + message_;
        case Kind::httpError: return "HTTP error " + std::to_string(code_) + ": " + body_;
        case Kind::socketCreateFailed: return "Failed to create unix domain socket";
        case Kind::socketPathTooLong: return "Socket path too long";
        case Kind::badHTTPResponse: return "Bad HTTP response from LocalAPI";
        case Kind::decodeFailed: return "Failed to decode LocalAPI JSON response";
    }
    return {};
}

}  // namespace tw
