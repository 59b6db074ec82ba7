#pragma once

#include <cstdint>
#include <string>

namespace tw {

// The one error of every LocalAPI operation. Errors of the system or of the JSON decoders never
// reach callers directly; they always arrive as one of these cases.
class LocalAPIError {
public:
    enum class Kind {
        connectFailed,
        writeFailed,
        readFailed,
        httpError,
        socketCreateFailed,
        socketPathTooLong,
        badHTTPResponse,
        decodeFailed,
    };

    static LocalAPIError connectFailed(std::string message) { return {Kind::connectFailed, std::move(message)}; }
    static LocalAPIError writeFailed(std::string message) { return {Kind::writeFailed, std::move(message)}; }
    static LocalAPIError readFailed(std::string message) { return {Kind::readFailed, std::move(message)}; }
    static LocalAPIError httpError(std::int64_t code, std::string body) {
        return {Kind::httpError, {}, code, std::move(body)};
    }
    static LocalAPIError socketCreateFailed() { return {Kind::socketCreateFailed}; }
    static LocalAPIError socketPathTooLong() { return {Kind::socketPathTooLong}; }
    static LocalAPIError badHTTPResponse() { return {Kind::badHTTPResponse}; }
    static LocalAPIError decodeFailed() { return {Kind::decodeFailed}; }

    Kind kind() const { return kind_; }
    // The system's text for the failed call (connect, write and read failures).
    const std::string& message() const { return message_; }
    // The status code and body text of an httpError.
    std::int64_t code() const { return code_; }
    const std::string& body() const { return body_; }

    // The fixed human-readable text of the case, with its payload.
    std::string description() const;

    bool operator==(const LocalAPIError&) const = default;

private:
    LocalAPIError(Kind kind, std::string message = {}, std::int64_t code = 0, std::string body = {})
        : kind_(kind), message_(std::move(message)), code_(code), body_(std::move(body)) {}

    Kind kind_;
    std::string message_;
    std::int64_t code_ = 0;
    std::string body_;
};

}  // namespace tw
