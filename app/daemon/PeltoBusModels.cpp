#include "app/daemon/PeltoBusModels.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <utility>

namespace tw {

namespace {

namespace dom = simdjson::dom;

using Result = std::expected<void, JsonDecodeError>;

// Where a value sits in the document. Frames live on the stack of the decoding functions and are
// rendered into text only when decoding fails, so a successful decode never allocates for them.
class Path {
  public:
    Path() = default;

    Path member(std::string_view key) const { return Path(this, key, 0, false); }
    Path element(std::size_t index) const { return Path(this, {}, index, true); }

    std::string render() const {
        if (!parent_) return "top level";
        std::string text;
        appendTo(text);
        return text;
    }

  private:
    Path(const Path* parent, std::string_view key, std::size_t index, bool isIndex)
        : parent_(parent), key_(key), index_(index), isIndex_(isIndex) {}

    void appendTo(std::string& text) const {
        if (!parent_) return;
        parent_->appendTo(text);
        if (isIndex_) {
            text += '[' + std::to_string(index_) + ']';
        } else {
            if (!text.empty()) text += '.';
            text += key_;
        }
    }

    const Path* parent_ = nullptr;
    std::string_view key_;
    std::size_t index_ = 0;
    bool isIndex_ = false;
};

std::unexpected<JsonDecodeError> fail(const Path& path, std::string_view what) {
    return std::unexpected(JsonDecodeError{path.render() + ": " + std::string(what)});
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

std::unexpected<JsonDecodeError> wrongType(const Path& path, std::string_view wanted,
                                           dom::element got) {
    return fail(path,
                "expected " + std::string(wanted) + ", got " + std::string(describe(got.type())));
}

static_assert(PaddedLine::kPadding >= simdjson::SIMDJSON_PADDING);

// The tape stays owned by this thread's parser: everything must be copied out of it before the
// next decode on the same thread. Text without padding is first copied into the parser's own
// padded buffer.
dom::parser& threadParser() {
    thread_local dom::parser parser;
    return parser;
}

std::expected<dom::element, JsonDecodeError> parse(std::string_view json, bool padded = false) {
    auto root = threadParser().parse(json.data(), json.size(), !padded);
    if (root.error() != simdjson::SUCCESS) {
        return std::unexpected(JsonDecodeError{"not valid JSON: " +
                                               std::string(simdjson::error_message(root.error()))});
    }
    return root.value_unsafe();
}

std::expected<dom::element, JsonDecodeError> parse(PaddedLine line) { return parse(line.text, true); }

// Strict readers: each one takes a value of exactly its JSON type or fails with the path.

// Hands the text of a string value to `store`. Optional members and list elements are built
// straight from the text in their place: one allocation of the exact length, where assigning
// into a default-constructed string goes through its growth path (a tenth of a large network
// map's decode).
template <class Store>
Result readString(const Path& path, dom::element value, Store store) {
    std::string_view text;
    if (value.get(text) != simdjson::SUCCESS) return wrongType(path, "a string", value);
    store(text);
    return {};
}

Result read(const Path& path, dom::element value, std::string& out) {
    return readString(path, value, [&](std::string_view text) { out.assign(text); });
}

Result read(const Path& path, dom::element value, bool& out) {
    if (value.get(out) != simdjson::SUCCESS) return wrongType(path, "a boolean", value);
    return {};
}

// A number written with a fraction or an exponent (4.0, 1e3) is a floating-point number to the
// parser and is refused rather than converted, so no value is ever silently rounded.
Result read(const Path& path, dom::element value, std::int64_t& out) {
    const auto error = value.get(out);
    if (error == simdjson::NUMBER_OUT_OF_RANGE) {
        return fail(path, "integer out of the signed 64-bit range");
    }
    if (error != simdjson::SUCCESS) return wrongType(path, "an integer", value);
    return {};
}

// Not std::tolower: the names are ASCII and must not depend on the process locale.
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

PeltoBusState stateNamed(std::string_view text) {
    static constexpr std::array<std::string_view, 5> kNames = {"nostate", "needslogin", "stopped",
                                                               "starting", "running"};
    for (std::size_t code = 0; code < kNames.size(); ++code) {
        const bool matches = std::ranges::equal(text, kNames[code], {}, asciiLower);
        if (matches) return static_cast<PeltoBusState>(code);
    }
    return PeltoBusState::noState;
}

// Newer daemons may add states; an unknown code or name reads as noState instead of failing the
// whole notification.
Result read(const Path& path, dom::element value, PeltoBusState& out) {
    std::int64_t code = 0;
    std::string_view text;
    if (value.get(code) == simdjson::SUCCESS) {
        const bool known = code >= 0 && code <= static_cast<std::int64_t>(PeltoBusState::running);
        out = known ? static_cast<PeltoBusState>(code) : PeltoBusState::noState;
    } else if (value.type() == dom::element_type::UINT64) {
        out = PeltoBusState::noState;
    } else if (value.get(text) == simdjson::SUCCESS) {
        out = stateNamed(text);
    } else {
        return wrongType(path, "a state code or name", value);
    }
    return {};
}

template <class T>
Result read(const Path& path, dom::element value, std::optional<T>& out) {
    return read(path, value, out.emplace());
}

Result read(const Path& path, dom::element value, std::optional<std::string>& out) {
    return readString(path, value, [&](std::string_view text) { out.emplace(text); });
}

template <class T>
Result readElement(const Path& path, dom::element item, std::vector<T>& out) {
    return read(path, item, out.emplace_back());
}

Result readElement(const Path& path, dom::element item, std::vector<std::string>& out) {
    return readString(path, item, [&](std::string_view text) { out.emplace_back(text); });
}

template <class T>
Result read(const Path& path, dom::element value, std::vector<T>& out) {
    dom::array array;
    if (value.get(array) != simdjson::SUCCESS) return wrongType(path, "an array", value);
    out.reserve(array.size());
    std::size_t index = 0;
    for (dom::element item : array) {
        if (auto result = readElement(path.element(index++), item, out); !result) {
            return result;
        }
    }
    return {};
}

template <class T>
Result read(const Path& path, dom::element value, std::map<std::string, T>& out) {
    dom::object object;
    if (value.get(object) != simdjson::SUCCESS) return wrongType(path, "an object", value);
    for (auto [key, member] : object) {
        auto [entry, inserted] = out.try_emplace(std::string(key));
        if (!inserted) continue;  // a repeated name: the first one counts
        if (auto result = read(path.member(key), member, entry->second); !result) return result;
    }
    return {};
}

// Records are described by a table of their members. One pass over the object's members
// dispatches each to its reader: a network map carries thousands of nodes, and a lookup per field
// would scan every node object once per field.

template <class Record>
struct Field {
    std::string_view key;
    bool required;
    Result (*read)(const Path&, dom::element, Record&);
};

template <class>
struct MemberOf;

template <class Record, class T>
struct MemberOf<T Record::*> {
    using Owner = Record;
};

template <auto member>
using OwnerOf = typename MemberOf<decltype(member)>::Owner;

template <auto member>
Result readMember(const Path& path, dom::element value, OwnerOf<member>& out) {
    return read(path, value, out.*member);
}

template <auto member>
constexpr Field<OwnerOf<member>> requiredField(std::string_view key) {
    return {key, true, &readMember<member>};
}

// Missing or null leaves the member at its default.
template <auto member>
constexpr Field<OwnerOf<member>> optionalField(std::string_view key) {
    return {key, false, &readMember<member>};
}

template <class Record>
struct Fields;

template <class Record>
concept Described = requires {
    Fields<Record>::list;
};

template <class Record, std::size_t count>
Result checkRequired(const Path& path, const Field<Record> (&fields)[count], std::uint32_t seen) {
    for (std::size_t index = 0; index < count; ++index) {
        if (fields[index].required && !(seen & (1u << index))) {
            return fail(path.member(fields[index].key), "missing");
        }
    }
    return {};
}

template <Described Record>
Result read(const Path& path, dom::element value, Record& out) {
    constexpr auto& fields = Fields<Record>::list;
    static_assert(std::size(fields) <= 32, "the seen mask holds 32 members");
    dom::object object;
    if (value.get(object) != simdjson::SUCCESS) return wrongType(path, "an object", value);
    std::uint32_t seen = 0;
    for (auto [key, member] : object) {
        const auto field = std::ranges::find(fields, key, &Field<Record>::key);
        if (field == std::end(fields)) continue;
        const auto bit = 1u << (field - std::begin(fields));
        if (seen & bit) continue;  // a repeated key: the first one counts
        seen |= bit;
        if (!field->required && member.is_null()) continue;
        if (auto result = field->read(path.member(key), member, out); !result) return result;
    }
    return checkRequired(path, fields, seen);
}

template <>
struct Fields<ProfileInfo> {
    static constexpr Field<ProfileInfo> list[] = {
        requiredField<&ProfileInfo::id>("id"),
        requiredField<&ProfileInfo::name>("name"),
        optionalField<&ProfileInfo::nodeId>("node_id"),
        optionalField<&ProfileInfo::userEmail>("user_email"),
        requiredField<&ProfileInfo::isCurrent>("is_current"),
    };
};

template <>
struct Fields<ProfilesResponse> {
    static constexpr Field<ProfilesResponse> list[] = {
        requiredField<&ProfilesResponse::currentProfileId>("current_profile_id"),
        optionalField<&ProfilesResponse::profiles>("profiles"),
    };
};

template <>
struct Fields<UserProfile> {
    static constexpr Field<UserProfile> list[] = {
        optionalField<&UserProfile::loginName>("LoginName"),
        optionalField<&UserProfile::displayName>("DisplayName"),
        optionalField<&UserProfile::profileUrl>("ProfileURL"),
    };
};

template <>
struct Fields<Node> {
    static constexpr Field<Node> list[] = {
        requiredField<&Node::id>("ID"),
        optionalField<&Node::name>("Name"),
        optionalField<&Node::addresses>("Addresses"),
        optionalField<&Node::key>("Key"),
        optionalField<&Node::allowedIPs>("AllowedIPs"),
        optionalField<&Node::endpoints>("Endpoints"),
        optionalField<&Node::nodeKey>("NodeKey"),
        optionalField<&Node::os>("OS"),
        requiredField<&Node::userID>("UserID"),
    };
};

template <>
struct Fields<NodeView> {
    static constexpr Field<NodeView> list[] = {
        optionalField<&NodeView::node>("Node"),
    };
};

template <>
struct Fields<NetworkMap> {
    static constexpr Field<NetworkMap> list[] = {
        optionalField<&NetworkMap::selfNode>("SelfNode"),
        optionalField<&NetworkMap::nodeKey>("NodeKey"),
        optionalField<&NetworkMap::privateWgKey>("PrivateWgKey"),
        optionalField<&NetworkMap::peers>("Peers"),
        optionalField<&NetworkMap::dnsName>("DNSName"),
        optionalField<&NetworkMap::userProfiles>("UserProfiles"),
    };
};

template <>
struct Fields<PeltoBusNotify> {
    static constexpr Field<PeltoBusNotify> list[] = {
        optionalField<&PeltoBusNotify::version>("Version"),
        optionalField<&PeltoBusNotify::errMessage>("ErrMessage"),
        optionalField<&PeltoBusNotify::state>("State"),
        optionalField<&PeltoBusNotify::netMap>("NetMap"),
        optionalField<&PeltoBusNotify::interactiveLoginUrl>("InteractiveLoginUrl"),
        optionalField<&PeltoBusNotify::jailed>("Jailed"),
        optionalField<&PeltoBusNotify::jailReason>("JailReason"),
    };
};

template <Described Record, class Json>
std::expected<Record, JsonDecodeError> decodeStrictly(Json json) {
    auto root = parse(json);
    if (!root) return std::unexpected(std::move(root.error()));
    Record record;
    if (auto result = read(Path{}, *root, record); !result) {
        return std::unexpected(std::move(result.error()));
    }
    return record;
}

// Lenient reading: a member of the wrong type is simply absent. It reuses the strict readers and
// drops their failure; the status body is small and rarely mistyped.

template <class T>
std::optional<T> lenient(dom::object object, std::string_view key) {
    dom::element value;
    T out{};
    if (object[key].get(value) != simdjson::SUCCESS || !read(Path{}, value, out)) {
        return std::nullopt;
    }
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

}  // namespace

std::expected<DaemonStatus, JsonDecodeError> DaemonStatus::decode(std::string_view body) {
    auto root = parse(body);
    if (!root) return std::unexpected(std::move(root.error()));
    dom::object object;
    if (root->get(object) != simdjson::SUCCESS) return wrongType(Path{}, "an object", *root);
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

std::expected<ProfilesResponse, JsonDecodeError> ProfilesResponse::decode(std::string_view body) {
    return decodeStrictly<ProfilesResponse>(body);
}

std::expected<PeltoBusNotify, JsonDecodeError> PeltoBusNotify::decode(std::string_view line) {
    return decodeStrictly<PeltoBusNotify>(line);
}

std::expected<PeltoBusNotify, JsonDecodeError> PeltoBusNotify::decode(PaddedLine line) {
    return decodeStrictly<PeltoBusNotify>(line);
}

bool PeltoBusNotify::decoderHoldsLargeBuffers() {
    return threadParser().capacity() > kKeptCapacity;
}

void PeltoBusNotify::releaseDecoderBuffers() { threadParser() = dom::parser{}; }

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
