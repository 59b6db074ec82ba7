#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tw {

// The contract between the desktop application and its privileged helper, compiled by both.
//
// The helper listens on a Unix stream socket. A client writes one request line and reads exactly
// one reply line; it may send further requests on the same connection, and they are answered one
// after another, in order. A line is one JSON object followed by LF:
//
//   {"selector":"pingWithReply:"}                                   -> {"reply":true}
//   {"selector":"runGoToolWithPath:arguments:withReply:",
//    "path":"/usr/lib/tarnwick/Resources/tarnwick","arguments":["down"]}
//                                                                   -> {"reply":"<text>"}
//
// When the helper does not carry out a request, nothing has run and the reply is
//
//   {"error":"<why>"}
//
// with these texts: "malformed request: <detail>" for a line that is not one of the two requests
// (the connection stays usable); "request line longer than 65536 bytes" for a line over
// kMaxRequestLineBytes and "request line not terminated" for bytes left without an LF when the
// client stops sending (the helper closes the connection after either); and "not authorised" for
// a client that may not use the helper (the helper closes the connection).
//
// Decoding is strict: exactly the members shown, each once and of the type shown, and texts that
// can be handed to a process (no NUL character).
class HelperToolProtocol {
  public:
    static constexpr std::string_view kPingSelector = "pingWithReply:";
    static constexpr std::string_view kRunGoToolSelector = "runGoToolWithPath:arguments:withReply:";

    // Bytes of a request line without its LF.
    static constexpr std::size_t kMaxRequestLineBytes = 64 * 1024;
    // Bytes of the text a reply carries; the helper never replies more.
    static constexpr std::size_t kMaxReplyTextBytes = 1024 * 1024;
    // Bytes of a reply line without its LF: the text with every byte escaped as \u00XX at worst.
    static constexpr std::size_t kMaxReplyLineBytes = 6 * kMaxReplyTextBytes + 64;

    struct Ping {
        friend bool operator==(const Ping&, const Ping&) = default;
    };
    struct RunGoTool {
        std::string path;
        std::vector<std::string> arguments;
        friend bool operator==(const RunGoTool&, const RunGoTool&) = default;
    };
    using Request = std::variant<Ping, RunGoTool>;

    struct PingReply {
        bool alive;
        friend bool operator==(const PingReply&, const PingReply&) = default;
    };
    struct RunGoToolReply {
        std::string text;
        friend bool operator==(const RunGoToolReply&, const RunGoToolReply&) = default;
    };
    struct ErrorReply {
        std::string message;
        friend bool operator==(const ErrorReply&, const ErrorReply&) = default;
    };
    using Reply = std::variant<PingReply, RunGoToolReply, ErrorReply>;

    struct DecodeError {
        std::string message;
    };

    // The complete line, LF included. Any bytes may be given: each byte that does not begin a
    // valid UTF-8 sequence is sent as U+FFFD, so the line is always valid JSON.
    static std::string encodeRequest(const Request& request);
    static std::string encodeReply(const Reply& reply);

    // Take one line without its LF.
    static std::expected<Request, DecodeError> decodeRequest(std::string_view line);
    static std::expected<Reply, DecodeError> decodeReply(std::string_view line);

    // Whether command output can travel as reply text unchanged: valid UTF-8 (no overlong forms,
    // no surrogates, nothing above U+10FFFF).
    static bool isText(std::string_view bytes);
};

}  // namespace tw
