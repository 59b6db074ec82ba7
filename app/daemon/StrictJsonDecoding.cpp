// The strict decoders: profiles and stream notifications. They read the JSON in one forward pass
// (simdjson's On-Demand front, which builds no tape), and every member the schema does not name is
// still checked to be well-formed JSON, so every text a full parse refuses is refused here too. A
// notification's texts are views into its own line wherever the JSON text is the value itself (no
// escapes), so decoding a large network map copies no text.

#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstddef>
#include <forward_list>
#include <functional>
#include <iterator>
#include <utility>

#include "app/daemon/JsonPath.h"
#include "app/daemon/PeltoBusModels.h"
#include "app/daemon/ViewRuns.h"

namespace tw {

namespace {

namespace ondemand = simdjson::ondemand;
using simdjson::error_code;

// A failure's text is kept aside, on this thread, until the decode hands it back: the readers'
// results then stay one byte wide and come back in a register instead of through memory at every
// one of the hundreds of thousands of calls a large map makes.
struct Failed {};
using Result = std::expected<void, Failed>;

std::string& failureText() {
    thread_local std::string text;
    return text;
}

std::unexpected<Failed> fail(const JsonPath& path, std::string_view what) {
    failureText() = path.render() + ": " + std::string(what);
    return std::unexpected(Failed{});
}

std::unexpected<Failed> invalid(std::string_view why) {
    failureText() = "not valid JSON: " + std::string(why);
    return std::unexpected(Failed{});
}

std::unexpected<Failed> invalid(error_code error) {
    return invalid(simdjson::error_message(error));
}

static_assert(PaddedLine::kPadding >= simdjson::SIMDJSON_PADDING);

// The parser keeps its buffers, sized for the largest text parsed on this thread, for the next.
ondemand::parser& threadParser() {
    thread_local ondemand::parser parser;
    return parser;
}

// What a decoded notification keeps for its views.
struct NotifyBuffers {
    OwnedLine line;
    ViewRuns lists;
    std::forward_list<std::string> unescaped;  // texts that carried escapes, the profiles' keys
};

// A value of the document: what it is, for a failure's text, or what is wrong with the JSON there.
template <class Value>
std::expected<std::string_view, error_code> kindOf(Value& value) {
    ondemand::json_type type{};
    if (const auto error = value.type().get(type)) return std::unexpected(error);
    switch (type) {
        case ondemand::json_type::array:
            return "an array";
        case ondemand::json_type::object:
            return "an object";
        case ondemand::json_type::string:
            return "a string";
        case ondemand::json_type::boolean:
            return "a boolean";
        case ondemand::json_type::null:
            return "null";
        case ondemand::json_type::number: {
            ondemand::number_type number{};
            if (const auto error = value.get_number_type().get(number)) return std::unexpected(error);
            return number == ondemand::number_type::floating_point_number ? "a floating-point number"
                                                                         : "an integer";
        }
    }
    return "an unknown value";
}

template <class Value>
std::unexpected<Failed> wrongType(const JsonPath& path, std::string_view wanted, Value& value) {
    const auto got = kindOf(value);
    if (!got) return invalid(got.error());
    return fail(path, "expected " + std::string(wanted) + ", got " + std::string(*got));
}

// The first byte of a value's token tells its JSON type; the value itself is checked as it is read.
[[gnu::always_inline]] inline char leadOf(ondemand::value& value) {
    return value.raw_json_token().front();
}

bool isNumberLead(char lead) { return lead == '-' || (lead >= '0' && lead <= '9'); }

// Where a text written without escapes ends: the offset of its closing quote from `raw`, its
// first byte, or npos when an escape comes first. Names and values are a few dozen bytes, for
// which a call to memchr costs more than the search. The text lies in the padded document and is
// closed (the parser's first stage checked that), so the scan ends, and a sixteen-byte load may
// reach past the quote (SSE2 is part of every x86-64 processor).
std::size_t plainLength(const char* raw) {
#if defined(__SSE2__)
    const __m128i quotes = _mm_set1_epi8('"');
    const __m128i backslashes = _mm_set1_epi8('\\');
    for (std::size_t at = 0;; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + at));
        const __m128i stops =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quotes), _mm_cmpeq_epi8(bytes, backslashes));
        if (const auto found = static_cast<unsigned>(_mm_movemask_epi8(stops)); found != 0) {
            const std::size_t end = at + static_cast<std::size_t>(std::countr_zero(found));
            return raw[end] == '"' ? end : std::string_view::npos;
        }
    }
#else
    for (std::size_t at = 0;; ++at) {
        if (raw[at] == '"') return at;
        if (raw[at] == '\\') return std::string_view::npos;
    }
#endif
}

// A member's name where it lies in the document, or unescaped into the parser's buffer when it
// carries escapes.
[[gnu::always_inline]] inline std::expected<std::string_view, error_code> keyOf(
    ondemand::field& field) {
    const char* const raw = field.key().raw();
    const auto length = plainLength(raw);
    if (length != std::string_view::npos) return std::string_view(raw, length);
    std::string_view key;
    if (const auto error = field.unescaped_key().get(key)) return std::unexpected(error);
    return key;
}

// Reads values into records. Texts are views: into the line where the JSON text is the value,
// into `buffers_.unescaped` where it carried escapes.
class Reader {
  public:
    explicit Reader(NotifyBuffers& buffers) : buffers_(buffers) {}

    // Inlined into every reader: a call for each of the hundred thousand texts of a large map
    // costs more than the checks themselves.
    [[gnu::always_inline]] Result text(const JsonPath& path, ondemand::value& value,
                                       std::string_view& out) {
        const std::string_view token = value.raw_json_token();
        if (token.front() != '"') return wrongType(path, "a string", value);
        if (const auto length = plainLength(token.data() + 1); length != std::string_view::npos) {
            out = token.substr(1, length);
            // Consumed, not left for the object's iterator to step over: stepping over a string
            // that a colon follows takes it for a name, and a stray colon would go unnoticed.
            ondemand::raw_json_string consumed;
            if (const auto error = value.get_raw_json_string().get(consumed)) return invalid(error);
            return {};
        }
        std::string_view unescaped;
        if (const auto error = value.get_string().get(unescaped)) return invalid(error);
        out = buffers_.unescaped.emplace_front(unescaped);
        return {};
    }

    // A name kept in a record: where it lies in the line, or a copy of its unescaped text, which
    // the parser's buffer holds only until the next decode.
    std::string_view keep(std::string_view name) {
        const auto& line = buffers_.line.buffer;
        const bool inLine = std::less_equal<>{}(line.data(), name.data()) &&
                            std::less<>{}(name.data(), line.data() + line.size());
        return inLine ? name : buffers_.unescaped.emplace_front(name);
    }

    ViewRuns& lists() { return buffers_.lists; }

  private:
    NotifyBuffers& buffers_;
};

// Checks that a value the schema does not name is well-formed JSON.
Result skip(Reader& reader, ondemand::value& value);

Result skipMembers(Reader& reader, ondemand::object object) {
    for (auto entry : object) {
        if (entry.error()) return invalid(entry.error());
        // References into the iterator's own field: copying the parser's small iterator objects
        // costs more than reading most values.
        auto& field = entry.value_unsafe();
        if (const auto key = keyOf(field); !key) return invalid(key.error());
        auto& member = field.value();
        if (auto result = skip(reader, member); !result) return result;
    }
    return {};
}

Result skipElements(Reader& reader, ondemand::array array) {
    for (auto item : array) {
        if (item.error()) return invalid(item.error());
        auto& element = item.value_unsafe();
        if (auto result = skip(reader, element); !result) return result;
    }
    return {};
}

Result skip(Reader& reader, ondemand::value& value) {
    switch (leadOf(value)) {
        case '{': {
            ondemand::object object;
            if (const auto error = value.get_object().get(object)) return invalid(error);
            return skipMembers(reader, object);
        }
        case '[': {
            ondemand::array array;
            if (const auto error = value.get_array().get(array)) return invalid(error);
            return skipElements(reader, array);
        }
        case '"': {
            std::string_view text;
            return reader.text(JsonPath{}, value, text);
        }
        case 't':
        case 'f': {
            bool flag = false;
            if (const auto error = value.get_bool().get(flag)) return invalid(error);
            return {};
        }
        case 'n': {
            bool null = false;
            if (const auto error = value.is_null().get(null)) return invalid(error);
            return null ? Result{} : invalid(simdjson::N_ATOM_ERROR);
        }
        default: {
            ondemand::number number;
            if (const auto error = value.get_number().get(number)) return invalid(error);
            return {};
        }
    }
}

// A value the schema does not name: most are texts, checked here without a call.
[[gnu::always_inline]] inline Result pass(Reader& reader, ondemand::value& value) {
    if (leadOf(value) != '"') return skip(reader, value);
    std::string_view text;
    return reader.text(JsonPath{}, value, text);
}

// Strict readers: each one takes a value of exactly its JSON type or fails with the path. Those a
// node's members use are inlined into its loop.

[[gnu::always_inline]] inline Result read(Reader& reader, const JsonPath& path,
                                          ondemand::value& value, std::string_view& out) {
    return reader.text(path, value, out);
}

// Records that own their texts (profiles) copy them.
Result read(Reader& reader, const JsonPath& path, ondemand::value& value, std::string& out) {
    std::string_view text;
    auto result = reader.text(path, value, text);
    if (result) out.assign(text);
    return result;
}

Result read(Reader&, const JsonPath& path, ondemand::value& value, bool& out) {
    const char lead = leadOf(value);
    if (lead != 't' && lead != 'f') return wrongType(path, "a boolean", value);
    if (const auto error = value.get_bool().get(out)) return invalid(error);
    return {};
}

// A number written with a fraction or an exponent (4.0, 1e3) is a floating-point number to the
// parser and is refused rather than converted, so no value is ever silently rounded.
[[gnu::always_inline]] inline Result read(Reader&, const JsonPath& path, ondemand::value& value,
                                          std::int64_t& out) {
    if (!isNumberLead(leadOf(value))) return wrongType(path, "an integer", value);
    if (value.get_int64().get(out) == simdjson::SUCCESS) return {};
    ondemand::number_type type{};
    if (const auto error = value.get_number_type().get(type)) return invalid(error);
    switch (type) {
        case ondemand::number_type::floating_point_number:
            return wrongType(path, "an integer", value);
        case ondemand::number_type::unsigned_integer:
            return fail(path, "integer out of the signed 64-bit range");
        case ondemand::number_type::signed_integer:
            break;
    }
    return invalid(simdjson::NUMBER_ERROR);
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
Result read(Reader& reader, const JsonPath& path, ondemand::value& value, PeltoBusState& out) {
    const char lead = leadOf(value);
    if (lead == '"') {
        std::string_view text;
        auto result = reader.text(path, value, text);
        if (result) out = stateNamed(text);
        return result;
    }
    ondemand::number_type kind{};
    const bool isInteger = isNumberLead(lead) &&
                           value.get_number_type().get(kind) == simdjson::SUCCESS &&
                           kind != ondemand::number_type::floating_point_number;
    if (!isInteger) return wrongType(path, "a state code or name", value);
    std::int64_t code = -1;  // an integer past the signed range is no known code
    std::uint64_t large = 0;
    const auto error = kind == ondemand::number_type::signed_integer ? value.get_int64().get(code)
                                                                     : value.get_uint64().get(large);
    if (error) return invalid(error);
    const bool known = code >= 0 && code <= static_cast<std::int64_t>(PeltoBusState::running);
    out = known ? static_cast<PeltoBusState>(code) : PeltoBusState::noState;
    return {};
}

template <class T>
[[gnu::always_inline]] inline Result read(Reader& reader, const JsonPath& path,
                                          ondemand::value& value, std::optional<T>& out) {
    return read(reader, path, value, out.emplace());
}

[[gnu::always_inline]] inline Result read(Reader& reader, const JsonPath& path,
                                          ondemand::value& value, TextList& out) {
    if (leadOf(value) != '[') return wrongType(path, "an array", value);
    ondemand::array array;
    if (const auto error = value.get_array().get(array)) return invalid(error);
    auto& lists = reader.lists();
    lists.open();
    std::size_t index = 0;
    for (auto item : array) {
        if (item.error()) return invalid(item.error());
        auto& element = item.value_unsafe();
        std::string_view text;
        if (auto result = reader.text(path.element(index++), element, text); !result) return result;
        lists.add(text);
    }
    out = TextList(lists.close());
    return {};
}

template <class T>
Result readElements(Reader& reader, const JsonPath& path, ondemand::value& value, std::vector<T>& out) {
    if (leadOf(value) != '[') return wrongType(path, "an array", value);
    ondemand::array array;
    if (const auto error = value.get_array().get(array)) return invalid(error);
    std::size_t index = 0;
    for (auto item : array) {
        if (item.error()) return invalid(item.error());
        auto& element = item.value_unsafe();
        if (auto result = read(reader, path.element(index++), element, out.emplace_back()); !result) {
            return result;
        }
    }
    return {};
}

template <class T>
Result read(Reader& reader, const JsonPath& path, ondemand::value& value, std::vector<T>& out) {
    return readElements(reader, path, value, out);
}

// The peers are read straight into a vector sized for the last map read on this thread: growing
// it would copy it, and fault in fresh memory, a dozen times over for a large map.
Result read(Reader& reader, const JsonPath& path, ondemand::value& value, std::vector<NodeView>& out) {
    thread_local std::size_t lastCount = 0;
    out.reserve(lastCount);
    auto result = readElements(reader, path, value, out);
    lastCount = out.size();
    return result;
}

template <class T>
Result read(Reader& reader, const JsonPath& path, ondemand::value& value,
            std::map<std::string_view, T, std::less<>>& out) {
    if (leadOf(value) != '{') return wrongType(path, "an object", value);
    ondemand::object object;
    if (const auto error = value.get_object().get(object)) return invalid(error);
    for (auto entry : object) {
        if (entry.error()) return invalid(entry.error());
        auto& field = entry.value_unsafe();
        const auto key = keyOf(field);
        if (!key) return invalid(key.error());
        auto& member = field.value();
        if (out.contains(*key)) {  // a repeated name: the first one counts
            if (auto result = skip(reader, member); !result) return result;
            continue;
        }
        auto& profile = out[reader.keep(*key)];
        if (auto result = read(reader, path.member(*key), member, profile); !result) return result;
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
    Result (*read)(Reader&, const JsonPath&, ondemand::value&, Record&);
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
[[gnu::always_inline]] inline Result readMember(Reader& reader, const JsonPath& path,
                                                ondemand::value& value, OwnerOf<member>& out) {
    return read(reader, path, value, out.*member);
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
concept Described = requires { Fields<Record>::list; };

// For each key length, the members whose key has that length: a member is compared with the one
// or two names of its length instead of all of them.
template <class Record, std::size_t count>
constexpr std::array<std::uint32_t, 33> membersByKeyLength(const Field<Record> (&fields)[count]) {
    std::array<std::uint32_t, 33> masks{};
    for (std::size_t index = 0; index < count; ++index) {
        masks.at(fields[index].key.size()) |= 1u << index;  // at(): a longer key fails the build
    }
    return masks;
}

// Names are a few bytes long: a loop the compiler inlines beats a call to memcmp.
inline bool sameBytes(std::string_view name, std::string_view key) {
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (name[at] != key[at]) return false;
    }
    return true;
}

// For each first byte, the members whose name starts with it.
template <class Record, std::size_t count>
constexpr std::array<std::uint32_t, 256> membersByFirstByte(const Field<Record> (&fields)[count]) {
    std::array<std::uint32_t, 256> masks{};
    for (std::size_t index = 0; index < count; ++index) {
        masks[static_cast<unsigned char>(fields[index].key.front())] |= 1u << index;
    }
    return masks;
}

// A name and its closing quote as a little-endian load of sixteen bytes reads them, with the mask
// of the bytes they take up: a name shorter than sixteen bytes is then compared in two steps
// without a branch.
struct QuotedName {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::uint64_t lowMask = 0;
    std::uint64_t highMask = 0;
    bool fits = false;
};

constexpr QuotedName quotedName(std::string_view name) {
    QuotedName quoted;
    quoted.fits = std::endian::native == std::endian::little && name.size() < 16;
    for (std::size_t at = 0; at <= name.size() && at < 16; ++at) {
        const std::uint64_t byte = at < name.size() ? static_cast<unsigned char>(name[at]) : '"';
        const auto shift = 8 * (at % 8);
        (at < 8 ? quoted.low : quoted.high) |= byte << shift;
        (at < 8 ? quoted.lowMask : quoted.highMask) |= std::uint64_t{0xFF} << shift;
    }
    return quoted;
}

template <class Record, std::size_t count>
constexpr std::array<QuotedName, count> quotedNames(const Field<Record> (&fields)[count]) {
    std::array<QuotedName, count> names{};
    for (std::size_t index = 0; index < count; ++index) {
        names[index] = quotedName(fields[index].key);
    }
    return names;
}

// The member whose name the document spells exactly, without escapes: `raw` is the name where it
// lies, up to its closing quote. It lies in the padded document, so sixteen bytes can be loaded
// from it.
template <Described Record>
int fieldSpelled(const char* raw) {
    static constexpr auto kMasks = membersByFirstByte(Fields<Record>::list);
    static constexpr auto kQuoted = quotedNames(Fields<Record>::list);
    const auto lead = static_cast<unsigned char>(*raw);
    if (kMasks[lead] == 0) return -1;
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::memcpy(&low, raw, sizeof low);
    std::memcpy(&high, raw + sizeof low, sizeof high);
    for (auto candidates = kMasks[lead]; candidates != 0; candidates &= candidates - 1) {
        const int index = std::countr_zero(candidates);
        const auto& quoted = kQuoted[static_cast<std::size_t>(index)];
        if (quoted.fits) {
            const auto differ = ((low ^ quoted.low) & quoted.lowMask) |
                                ((high ^ quoted.high) & quoted.highMask);
            if (differ == 0) return index;
            continue;
        }
        const auto name = Fields<Record>::list[index].key;
        if (sameBytes(name, std::string_view(raw, name.size())) && raw[name.size()] == '"') {
            return index;
        }
    }
    return -1;
}

template <Described Record>
int fieldIndex(std::string_view key) {
    static constexpr auto kMasks = membersByKeyLength(Fields<Record>::list);
    if (key.size() >= kMasks.size()) return -1;
    for (auto candidates = kMasks[key.size()]; candidates != 0; candidates &= candidates - 1) {
        const int index = std::countr_zero(candidates);
        if (sameBytes(Fields<Record>::list[index].key, key)) return index;
    }
    return -1;
}

template <class Record, std::size_t count>
Result checkRequired(const JsonPath& path, const Field<Record> (&fields)[count], std::uint32_t seen) {
    for (std::size_t index = 0; index < count; ++index) {
        if (fields[index].required && !(seen & (1u << index))) {
            return fail(path.member(fields[index].key), "missing");
        }
    }
    return {};
}

// Calls the reader of the member at `index` directly, so that every reader is inlined into the
// record's loop: the values then stay in registers instead of going through memory for an
// indirect call. Missing or null leaves an optional member at its default.
template <class Record, std::size_t... indices>
[[gnu::always_inline]] inline Result readField(Reader& reader, const JsonPath& path,
                                               ondemand::value& value, Record& out,
                                               std::size_t index, std::index_sequence<indices...>) {
    Result result;
    const auto readAt = [&]<std::size_t at>(std::integral_constant<std::size_t, at>) {
        constexpr auto& field = Fields<Record>::list[at];
        if (!field.required && leadOf(value) == 'n') {
            result = skip(reader, value);
        } else {
            result = field.read(reader, path.member(field.key), value, out);
        }
        return true;
    };
    (void)((index == indices && readAt(std::integral_constant<std::size_t, indices>{})) || ...);
    return result;
}

template <Described Record>
Result readMembers(Reader& reader, const JsonPath& path, ondemand::object object, Record& out) {
    constexpr auto& fields = Fields<Record>::list;
    static_assert(std::size(fields) <= 32, "the seen mask holds 32 members");
    std::uint32_t seen = 0;
    for (auto entry : object) {
        if (entry.error()) return invalid(entry.error());
        auto& field = entry.value_unsafe();
        auto& member = field.value();
        int index = fieldSpelled<Record>(field.key().raw());
        if (index < 0) {  // not a member, or one whose name is written with escapes
            const auto written = keyOf(field);
            if (!written) return invalid(written.error());
            index = fieldIndex<Record>(*written);
        }
        const auto bit = index < 0 ? 0 : 1u << index;
        if (index < 0 || (seen & bit)) {  // unnamed, or a repeated key: the first one counts
            if (auto result = pass(reader, member); !result) return result;
            continue;
        }
        seen |= bit;
        const auto fieldsIndices = std::make_index_sequence<std::size(fields)>{};
        if (auto result = readField(reader, path, member, out, static_cast<std::size_t>(index),
                                    fieldsIndices);
            !result) {
            return result;
        }
    }
    return checkRequired(path, fields, seen);
}

template <Described Record>
Result read(Reader& reader, const JsonPath& path, ondemand::value& value, Record& out) {
    if (leadOf(value) != '{') return wrongType(path, "an object", value);
    ondemand::object object;
    if (const auto error = value.get_object().get(object)) return invalid(error);
    return readMembers(reader, path, object, out);
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

// Reads the padded text that `buffers` holds into a record of the schema; its views point into
// `buffers`.
template <Described Record>
Result readDocument(NotifyBuffers& buffers, Record& record) {
    const auto& line = buffers.line;
    ondemand::document document;
    if (const auto error = threadParser()
                               .iterate(line.buffer.data() + line.offset, line.length,
                                        line.buffer.size() - line.offset)
                               .get(document)) {
        return invalid(error);
    }
    ondemand::json_type type{};
    if (const auto error = document.type().get(type)) return invalid(error);
    if (type != ondemand::json_type::object) return wrongType(JsonPath{}, "an object", document);
    ondemand::object object;
    if (const auto error = document.get_object().get(object)) return invalid(error);
    Reader reader(buffers);
    if (auto result = readMembers(reader, JsonPath{}, object, record); !result) return result;
    const char* rest = nullptr;
    if (document.current_location().get(rest) == simdjson::SUCCESS) {
        return invalid(simdjson::TRAILING_CONTENT);
    }
    return {};
}

template <Described Record>
std::expected<Record, JsonDecodeError> decodeStrictly(NotifyBuffers& buffers) {
    Record record;
    if (!readDocument(buffers, record)) {
        return std::unexpected(JsonDecodeError{std::exchange(failureText(), {})});
    }
    return record;
}

}  // namespace

std::expected<ProfilesResponse, JsonDecodeError> ProfilesResponse::decode(std::string_view body) {
    // The profiles own their texts: the buffers are only needed while they are read.
    NotifyBuffers buffers;
    buffers.line = OwnedLine::copyOf(body);
    return decodeStrictly<ProfilesResponse>(buffers);
}

std::expected<PeltoBusNotify, JsonDecodeError> PeltoBusNotify::decode(std::string_view line) {
    return decode(OwnedLine::copyOf(line));
}

std::expected<PeltoBusNotify, JsonDecodeError> PeltoBusNotify::decode(OwnedLine line) {
    auto buffers = std::make_shared<NotifyBuffers>();
    buffers->line = std::move(line);
    auto notify = decodeStrictly<PeltoBusNotify>(*buffers);
    if (!notify) return notify;
    notify->buffers = KeptBuffers(buffers);
    if (notify->netMap) notify->netMap->buffers = notify->buffers;
    return notify;
}

bool PeltoBusNotify::decoderHoldsLargeBuffers() {
    return threadParser().capacity() > kKeptCapacity;
}

void PeltoBusNotify::releaseDecoderBuffers() {
    threadParser() = ondemand::parser{};
}

}  // namespace tw
