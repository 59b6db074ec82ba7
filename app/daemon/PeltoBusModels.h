#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/daemon/KeptBuffers.h"
#include "app/daemon/OwnedLine.h"
#include "app/daemon/TextList.h"

namespace tw {

// The records the node daemon sends, and their decoders. The status body is decoded leniently
// (a member of the wrong type is simply absent); profiles and stream notifications are decoded
// strictly (a required member missing, null or mistyped, or an optional member present with the
// wrong type, fails the whole record).
//
// The texts and lists of a stream notification are views into buffers the notification keeps: the
// line it was decoded from, and pools for the lists and for the few texts that carried escapes. A
// network map of 10,000 peers so decodes without allocating a string. A NetworkMap keeps the
// buffers too, so a map taken out of its notification stays whole; a smaller record taken out on
// its own is valid while its notification or map lives. Records made by hand view what their maker
// keeps (string literals, most often).

struct JsonDecodeError {
    std::string description;  // what was wrong and where, e.g. `profiles[1].id: expected a string`
    bool operator==(const JsonDecodeError&) const = default;
};

struct DaemonStatus {
    struct SelfNode {
        std::int64_t id = 0;
        std::optional<std::string> hostName;
        std::optional<std::vector<std::string>> addresses;
        bool operator==(const SelfNode&) const = default;
    };

    std::optional<std::string> backendState;
    std::optional<std::string> interactiveLoginUrl;
    std::optional<std::vector<std::string>> tarnwickIps;
    std::optional<SelfNode> selfNode;
    std::optional<std::string> email;     // never sent by the daemon
    std::optional<std::string> userName;  // never sent by the daemon
    std::optional<bool> jailed;
    std::optional<std::string> jailReason;

    bool operator==(const DaemonStatus&) const = default;

    // Fails only when the body is not JSON or its top level is not an object.
    static std::expected<DaemonStatus, JsonDecodeError> decode(std::string_view body);
};

struct ProfileInfo {
    std::string id;
    std::string name;
    std::optional<std::int64_t> nodeId;
    std::optional<std::string> userEmail;
    bool isCurrent = false;

    bool operator==(const ProfileInfo&) const = default;
};

struct ProfilesResponse {
    std::string currentProfileId;
    std::vector<ProfileInfo> profiles;

    bool operator==(const ProfilesResponse&) const = default;

    static std::expected<ProfilesResponse, JsonDecodeError> decode(std::string_view body);
};

enum class PeltoBusState { noState = 0, needsLogin = 1, stopped = 2, starting = 3, running = 4 };

// "NoState", "NeedsLogin", "Stopped", "Starting", "Running".
std::string_view name(PeltoBusState state);

struct UserProfile {
    std::optional<std::string_view> loginName;
    std::optional<std::string_view> displayName;
    std::optional<std::string_view> profileUrl;
    bool operator==(const UserProfile&) const = default;
};

struct Node {
    std::int64_t id = 0;
    std::optional<std::string_view> name;
    std::optional<TextList> addresses;
    std::optional<std::string_view> key;
    std::optional<TextList> allowedIPs;
    std::optional<TextList> endpoints;
    std::optional<std::string_view> nodeKey;
    std::optional<std::string_view> os;
    std::int64_t userID = 0;
    bool operator==(const Node&) const = default;
};

struct NodeView {
    std::optional<Node> node;
    bool operator==(const NodeView&) const = default;
};

struct NetworkMap {
    std::optional<NodeView> selfNode;
    std::optional<std::string_view> nodeKey;
    std::optional<std::string_view> privateWgKey;
    std::optional<std::vector<NodeView>> peers;
    std::optional<std::string_view> dnsName;
    std::optional<std::map<std::string_view, UserProfile, std::less<>>> userProfiles;
    KeptBuffers buffers;
    bool operator==(const NetworkMap&) const = default;
};

struct PeltoBusNotify {
    std::optional<std::string_view> version;
    std::optional<std::string_view> errMessage;
    std::optional<PeltoBusState> state;
    std::optional<NetworkMap> netMap;
    std::optional<std::string_view> interactiveLoginUrl;
    std::optional<bool> jailed;
    std::optional<std::string_view> jailReason;
    KeptBuffers buffers;

    bool operator==(const PeltoBusNotify&) const = default;

    // Decodes one line of the event stream, keeping a copy of it. Trailing JSON whitespace (a CR
    // before the LF) is fine.
    static std::expected<PeltoBusNotify, JsonDecodeError> decode(std::string_view line);
    // The same, keeping the line's own buffer.
    static std::expected<PeltoBusNotify, JsonDecodeError> decode(OwnedLine line);

    // The decoder keeps, on each thread, the buffers of the largest text it parsed there (several
    // times its size) for the next one. Whether they are past what ordinary lines need; and
    // giving them back.
    static constexpr std::size_t kKeptCapacity = 1024 * 1024;
    static bool decoderHoldsLargeBuffers();
    static void releaseDecoderBuffers();
};

}  // namespace tw
