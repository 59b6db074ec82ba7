#include "shared/HelperToolProtocol.h"

#include <simdjson.h>

#include <array>
#include <utility>

namespace tw {

namespace {

namespace dom = simdjson::dom;

using Protocol = HelperToolProtocol;

// --- encoding ---

// Length of the valid UTF-8 sequence starting at `at` (Unicode table 3-7), or 0.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t offset) -> unsigned {
        return at + offset < text.size() ? static_cast<unsigned char>(text[at + offset]) : 0u;
    };
    const unsigned lead = byte(0);
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t offset = 2; offset < length; ++offset) {
        if (byte(offset) < 0x80 || byte(offset) > 0xBF) return 0;
    }
    return length;
}

void appendAscii(std::string& out, char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\b':
            out += "\\b";
            return;
        case '\f':
            out += "\\f";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
        static constexpr std::string_view kHex = "0123456789abcdef";
        out += "\\u00";
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 0xF];
        return;
    }
    out += c;
}

void appendString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t at = 0;
    while (at < text.size()) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            appendAscii(out, text[at++]);
        } else if (const std::size_t length = sequenceLength(text, at); length > 0) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++at;
        }
    }
    out += '"';
}

void appendMember(std::string& out, std::string_view key, std::string_view text) {
    appendString(out, key);
    out += ':';
    appendString(out, text);
}

std::string encode(const Protocol::Ping&) {
    std::string out = "{";
    appendMember(out, "selector", Protocol::kPingSelector);
    return out + "}";
}

std::string encode(const Protocol::RunGoTool& request) {
    std::string out = "{";
    appendMember(out, "selector", Protocol::kRunGoToolSelector);
    out += ',';
    appendMember(out, "path", request.path);
    out += R"(,"arguments":[)";
    for (std::size_t index = 0; index < request.arguments.size(); ++index) {
        if (index > 0) out += ',';
        appendString(out, request.arguments[index]);
    }
    return out + "]}";
}

std::string encode(const Protocol::PingReply& reply) {
    return reply.alive ? R"({"reply":true})" : R"({"reply":false})";
}

std::string encode(const Protocol::RunGoToolReply& reply) {
    std::string out = "{";
    appendMember(out, "reply", reply.text);
    return out + "}";
}

std::string encode(const Protocol::ErrorReply& reply) {
    std::string out = "{";
    appendMember(out, "error", reply.message);
    return out + "}";
}

// --- decoding ---

std::unexpected<Protocol::DecodeError> fail(std::string message) {
    return std::unexpected(Protocol::DecodeError{std::move(message)});
}

// The tape belongs to this thread's parser: values are copied out before the next parse.
std::expected<dom::object, Protocol::DecodeError> parseObject(std::string_view line) {
    thread_local dom::parser parser;
    dom::element root;
    if (const auto error = parser.parse(line.data(), line.size()).get(root); error) {
        return fail("not valid JSON: " + std::string(simdjson::error_message(error)));
    }
    dom::object object;
    if (root.get(object) != simdjson::SUCCESS) return fail("not a JSON object");
    return object;
}

// The members one message may carry, each at most once.
template <std::size_t N>
class Members {
  public:
    explicit Members(std::array<std::string_view, N> names) : names_(names) {}

    std::expected<void, Protocol::DecodeError> collect(dom::object object) {
        for (auto [key, value] : object) {
            std::size_t index = 0;
            while (index < N && names_[index] != key) ++index;
            if (index == N) return fail("unexpected member \"" + std::string(key) + "\"");
            if (present_[index]) return fail("duplicate member \"" + std::string(key) + "\"");
            present_[index] = true;
            values_[index] = value;
        }
        return {};
    }

    // The value of a member, which must be present.
    std::expected<dom::element, Protocol::DecodeError> required(std::size_t index) const {
        if (!present_[index]) return fail("missing \"" + std::string(names_[index]) + "\"");
        return values_[index];
    }

    std::size_t count() const {
        std::size_t total = 0;
        for (const bool present : present_) total += present ? 1 : 0;
        return total;
    }

  private:
    std::array<std::string_view, N> names_;
    std::array<bool, N> present_{};
    std::array<dom::element, N> values_{};
};

std::expected<std::string, Protocol::DecodeError> processText(dom::element value,
                                                              std::string_view what) {
    std::string_view text;
    if (value.get(text) != simdjson::SUCCESS) return fail(std::string(what) + " is not a string");
    if (text.find('\0') != std::string_view::npos) {
        return fail(std::string(what) + " contains a NUL character");
    }
    return std::string(text);
}

std::expected<std::vector<std::string>, Protocol::DecodeError> processArguments(
    dom::element value) {
    dom::array array;
    if (value.get(array) != simdjson::SUCCESS) return fail("\"arguments\" is not an array");
    std::vector<std::string> arguments;
    for (dom::element item : array) {
        auto text = processText(item, "an argument");
        if (!text) return std::unexpected(text.error());
        arguments.push_back(std::move(*text));
    }
    return arguments;
}

enum RequestMember : std::size_t { kSelector, kPath, kArguments };

std::expected<Protocol::Request, Protocol::DecodeError> runGoToolRequest(
    const Members<3>& members) {
    const auto pathValue = members.required(kPath);
    if (!pathValue) return std::unexpected(pathValue.error());
    auto path = processText(*pathValue, "\"path\"");
    if (!path) return std::unexpected(path.error());
    const auto argumentsValue = members.required(kArguments);
    if (!argumentsValue) return std::unexpected(argumentsValue.error());
    auto arguments = processArguments(*argumentsValue);
    if (!arguments) return std::unexpected(arguments.error());
    return Protocol::RunGoTool{std::move(*path), std::move(*arguments)};
}

}  // namespace

std::string HelperToolProtocol::encodeRequest(const Request& request) {
    return std::visit([](const auto& message) { return encode(message); }, request) + '\n';
}

std::string HelperToolProtocol::encodeReply(const Reply& reply) {
    return std::visit([](const auto& message) { return encode(message); }, reply) + '\n';
}

std::expected<HelperToolProtocol::Request, HelperToolProtocol::DecodeError>
HelperToolProtocol::decodeRequest(std::string_view line) {
    if (line.size() > kMaxRequestLineBytes) return fail("request longer than 65536 bytes");
    auto object = parseObject(line);
    if (!object) return std::unexpected(object.error());
    Members<3> members({"selector", "path", "arguments"});
    if (auto collected = members.collect(*object); !collected) {
        return std::unexpected(collected.error());
    }
    auto selectorValue = members.required(kSelector);
    if (!selectorValue) return std::unexpected(selectorValue.error());
    std::string_view selector;
    if (selectorValue->get(selector) != simdjson::SUCCESS) {
        return fail("\"selector\" is not a string");
    }
    if (selector == kRunGoToolSelector) return runGoToolRequest(members);
    if (selector != kPingSelector) return fail("unknown selector");
    if (members.count() != 1) return fail("\"pingWithReply:\" takes no arguments");
    return Ping{};
}

std::expected<HelperToolProtocol::Reply, HelperToolProtocol::DecodeError>
HelperToolProtocol::decodeReply(std::string_view line) {
    if (line.size() > kMaxReplyLineBytes) return fail("reply line too long");
    auto object = parseObject(line);
    if (!object) return std::unexpected(object.error());
    enum : std::size_t { kReply, kError };
    Members<2> members({"reply", "error"});
    if (auto collected = members.collect(*object); !collected) {
        return std::unexpected(collected.error());
    }
    if (members.count() != 1) return fail("expected exactly one of \"reply\" and \"error\"");
    if (auto error = members.required(kError)) {
        std::string_view message;
        if (error->get(message) != simdjson::SUCCESS) return fail("\"error\" is not a string");
        return ErrorReply{std::string(message)};
    }
    const dom::element value = *members.required(kReply);
    bool alive = false;
    std::string_view text;
    if (value.get(alive) == simdjson::SUCCESS) return PingReply{alive};
    if (value.get(text) == simdjson::SUCCESS) return RunGoToolReply{std::string(text)};
    return fail("\"reply\" is neither a boolean nor a string");
}

bool HelperToolProtocol::isText(std::string_view bytes) {
    return simdjson::validate_utf8(bytes.data(), bytes.size());
}

}  // namespace tw
