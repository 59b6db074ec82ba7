#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/daemon/PaddedLine.h"

namespace tw {

// The records the node daemon sends, and their decoders. The status body is decoded leniently
// (a member of the wrong type is simply absent); profiles and stream notifications are decoded
// strictly (a required member missing, null or mistyped, or an optional member present with the
// wrong type, fails the whole record).

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
    std::optional<std::string> loginName;
    std::optional<std::string> displayName;
    std::optional<std::string> profileUrl;
    bool operator==(const UserProfile&) const = default;
};

struct Node {
    std::int64_t id = 0;
    std::optional<std::string> name;
    std::optional<std::vector<std::string>> addresses;
    std::optional<std::string> key;
    std::optional<std::vector<std::string>> allowedIPs;
    std::optional<std::vector<std::string>> endpoints;
    std::optional<std::string> nodeKey;
    std::optional<std::string> os;
    std::int64_t userID = 0;
    bool operator==(const Node&) const = default;
};

struct NodeView {
    std::optional<Node> node;
    bool operator==(const NodeView&) const = default;
};

struct NetworkMap {
    std::optional<NodeView> selfNode;
    std::optional<std::string> nodeKey;
    std::optional<std::string> privateWgKey;
    std::optional<std::vector<NodeView>> peers;
    std::optional<std::string> dnsName;
    std::optional<std::map<std::string, UserProfile>> userProfiles;
    bool operator==(const NetworkMap&) const = default;
};

struct PeltoBusNotify {
    std::optional<std::string> version;
    std::optional<std::string> errMessage;
    std::optional<PeltoBusState> state;
    std::optional<NetworkMap> netMap;
    std::optional<std::string> interactiveLoginUrl;
    std::optional<bool> jailed;
    std::optional<std::string> jailReason;

    bool operator==(const PeltoBusNotify&) const = default;

    // Decodes one line of the event stream. Trailing JSON whitespace (a CR before the LF) is fine.
    static std::expected<PeltoBusNotify, JsonDecodeError> decode(std::string_view line);
    // The same, parsing the line in place.
    static std::expected<PeltoBusNotify, JsonDecodeError> decode(PaddedLine line);

    // The decoder keeps, on each thread, the buffers of the largest text it parsed there (several
    // times its size) for the next one. Whether they are past what ordinary lines need; and
    // giving them back.
    static constexpr std::size_t kKeptCapacity = 1024 * 1024;
    static bool decoderHoldsLargeBuffers();
    static void releaseDecoderBuffers();
};

}  // namespace tw
