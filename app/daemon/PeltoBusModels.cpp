#include "app/daemon/PeltoBusModels.h"

#include <simdjson.h>

#include <algorithm>

namespace tw {

namespace {

namespace dom = simdjson::dom;

// The status body is small: it is parsed whole, then each member looked up by key.
dom::parser& threadParser() {
    thread_local dom::parser parser;
    return parser;
}

// Each takes the value only if it has exactly the JSON type of `out`.
bool take(dom::element value, std::string& out) {
    std::string_view text;
    if (value.get(text) != simdjson::SUCCESS) return false;
    out.assign(text);
    return true;
}

bool take(dom::element value, bool& out) { return value.get(out) == simdjson::SUCCESS; }

// A number written with a fraction or an exponent (4.0, 1e3) is not taken, so no value is ever
// silently rounded.
bool take(dom::element value, std::int64_t& out) { return value.get(out) == simdjson::SUCCESS; }

bool take(dom::element value, std::vector<std::string>& out) {
    dom::array array;
    if (value.get(array) != simdjson::SUCCESS) return false;
    out.reserve(array.size());
    return std::ranges::all_of(array, [&](dom::element item) { return take(item, out.emplace_back()); });
}

template <class T>
std::optional<T> lenient(dom::object object, std::string_view key) {
    dom::element value;
    T out{};
    if (object[key].get(value) != simdjson::SUCCESS || !take(value, out)) return std::nullopt;
    return out;
}

// Older daemons send the flag as 0 or 1.
std::optional<bool> lenientFlag(dom::object object, std::string_view key) {
    if (auto flag = lenient<bool>(object, key)) return flag;
    const auto number = lenient<std::int64_t>(object, key);
    if (number == 0 || number == 1) return number == 1;
    return std::nullopt;
}

std::optional<DaemonStatus::SelfNode> lenientSelfNode(dom::object object, std::string_view key) {
    dom::object self;
    if (object[key].get(self) != simdjson::SUCCESS) return std::nullopt;
    return DaemonStatus::SelfNode{
        .id = lenient<std::int64_t>(self, "id").value_or(0),
        .hostName = lenient<std::string>(self, "host_name"),
        .addresses = lenient<std::vector<std::string>>(self, "tarnwick_ips"),
    };
}

std::string_view describe(dom::element_type type) {
    switch (type) {
        case dom::element_type::ARRAY:
            return "an array";
        case dom::element_type::OBJECT:
            return "an object";
        case dom::element_type::INT64:
        case dom::element_type::UINT64:
            return "an integer";
        case dom::element_type::DOUBLE:
            return "a floating-point number";
        case dom::element_type::STRING:
            return "a string";
        case dom::element_type::BOOL:
            return "a boolean";
        case dom::element_type::NULL_VALUE:
            return "null";
    }
    return "an unknown value";
}

}  // namespace

std::expected<DaemonStatus, JsonDecodeError> DaemonStatus::decode(std::string_view body) {
    auto root = threadParser().parse(body.data(), body.size());
    if (root.error() != simdjson::SUCCESS) {
        return std::unexpected(JsonDecodeError{"not valid JSON: " +
                                               std::string(simdjson::error_message(root.error()))});
    }
    dom::object object;
    if (root.get(object) != simdjson::SUCCESS) {
        return std::unexpected(JsonDecodeError{"top level: expected an object, got " +
                                               std::string(describe(root.type().value_unsafe()))});
    }
    return DaemonStatus{
        .backendState = lenient<std::string>(object, "backend_state"),
        .interactiveLoginUrl = lenient<std::string>(object, "interactive_login_url"),
        .tarnwickIps = lenient<std::vector<std::string>>(object, "tarnwick_ips"),
        .selfNode = lenientSelfNode(object, "self"),
        .email = std::nullopt,
        .userName = std::nullopt,
        .jailed = lenientFlag(object, "jailed"),
        .jailReason = lenient<std::string>(object, "jail_reason"),
    };
}

std::string_view name(PeltoBusState state) {
    switch (state) {
        case PeltoBusState::noState:
            return "NoState";
        case PeltoBusState::needsLogin:
            return "NeedsLogin";
        case PeltoBusState::stopped:
            return "Stopped";
        case PeltoBusState::starting:
            return "Starting";
        case PeltoBusState::running:
            return "Running";
    }
    return "NoState";
}

}  // namespace tw
