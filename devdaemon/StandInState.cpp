#include "devdaemon/StandInState.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "devdaemon/JsonWriter.h"

namespace tw {

namespace {

using Account = StandInProfile::Account;

constexpr std::string_view kDnsSuffix = ".mesh.tarnwick.example.";
constexpr std::string_view kFallbackHostName = "tarnwick-host";
constexpr std::size_t kMaxLabelLength = 63;

// Lower case, the first label only, anything but letters, digits and hyphens made a hyphen: the
// host name ends up inside DNS names.
std::string dnsLabel(std::string_view hostName) {
    std::string label;
    for (const char c : hostName.substr(0, hostName.find('.'))) {
        const auto byte = static_cast<unsigned char>(c);
        label += std::isalnum(byte) && byte < 0x80 ? static_cast<char>(std::tolower(byte)) : '-';
    }
    const auto first = label.find_first_not_of('-');
    if (first == std::string::npos) return std::string(kFallbackHostName);
    label = label.substr(first, label.find_last_not_of('-') + 1 - first);
    return label.substr(0, kMaxLabelLength);
}

std::string fullName(std::string_view label, std::string_view network) {
    return std::string(label) + "." + std::string(network) + std::string(kDnsSuffix);
}

// Keys and addresses are derived from the node id, so they stay the same across restarts
// without being saved.
std::uint64_t mix(std::uint64_t value) {
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

std::string hexDigits(std::uint64_t value, std::size_t digits) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    std::string text(digits, '0');
    for (std::size_t i = digits; i-- > 0; value >>= 4) text[i] = kHex[value & 0xf];
    return text;
}

enum class KeyKind : std::uint64_t { node = 1, privateWg = 2 };

std::string keyHex(std::int64_t nodeId, KeyKind kind) {
    std::string text;
    std::uint64_t state = static_cast<std::uint64_t>(nodeId) * 4 + static_cast<std::uint64_t>(kind);
    for (int part = 0; part < 4; ++part) text += hexDigits(state = mix(state), 16);
    return text;
}

std::string nodeKey(std::int64_t nodeId) { return "nodekey:" + keyHex(nodeId, KeyKind::node); }

// An address in 100.64.0.0/10 and one in fd42:7a2e:5b00::/48.
std::vector<std::string> addresses(std::int64_t nodeId) {
    const auto bits = mix(static_cast<std::uint64_t>(nodeId));
    const auto octet = [bits](int shift) { return std::to_string((bits >> shift) & 0xff); };
    auto group = hexDigits(bits & 0xffff, 4);
    group.erase(0, std::min(group.find_first_not_of('0'), group.size() - 1));
    return {
        "100." + std::to_string(64 + ((bits >> 16) & 0x3f)) + "." + octet(8) + "." + octet(0),
        "fd42:7a2e:5b00::" + group,
    };
}

std::vector<std::string> withPrefixLengths(std::vector<std::string> plain) {
    for (auto& address : plain) address += address.find(':') == std::string::npos ? "/32" : "/128";
    return plain;
}

struct NodeFacts {
    std::int64_t id;
    std::int64_t userId;
    std::string name;
    std::string_view os;
    std::string endpoint;
};

void writeNode(JsonWriter& json, const NodeFacts& node) {
    const auto nodeAddresses = withPrefixLengths(addresses(node.id));
    const auto key = nodeKey(node.id);
    json.beginObject().key("Node").beginObject();
    json.key("ID").number(node.id).key("Name").string(node.name);
    json.key("Addresses").strings(nodeAddresses).key("Key").string(key);
    json.key("AllowedIPs").strings(nodeAddresses).key("Endpoints").strings({node.endpoint});
    json.key("NodeKey").string(key).key("OS").string(node.os).key("UserID").number(node.userId);
    json.endObject().endObject();
}

struct FakePeer {
    std::string_view label;
    std::string_view os;
};

constexpr std::array<FakePeer, 3> kPeers = {{
    {"fern-nas", "linux"},
    {"quarry-phone", "android"},
    {"lantern-mac", "macOS"},
}};

// Endpoints come from the documentation ranges (RFC 5737).
std::string endpoint(std::string_view network, std::int64_t nodeId) {
    return std::string(network) + std::to_string(nodeId % 250 + 1) + ":41641";
}

}  // namespace

StandInState::StandInState(Config config) : StandInState(std::move(config), Saved{}) {}

StandInState::StandInState(Config config, Saved saved)
    : config_(std::move(config)), saved_(std::move(saved)), random_(config_.seed) {
    config_.hostName = dnsLabel(config_.hostName);
    if (saved_.profiles.empty()) saved_.profiles.push_back({newProfileId(), "", std::nullopt});
    if (!hasProfile(saved_.currentProfileId)) saved_.currentProfileId = saved_.profiles.front().id;
    starting_ = saved_.wantRunning && loggedIn();
}

std::string StandInState::startLogin() {
    const auto base = config_.loginUrlBase.empty() ? "https://" + config_.conductorHost + "/a/"
                                                   : config_.loginUrlBase;
    pendingLoginUrl_ = base + randomHex(16);
    starting_ = false;
    return *pendingLoginUrl_;
}

bool StandInState::completeLogin(std::string_view url, std::string_view loginName) {
    if (pendingLoginUrl_ != url) return false;
    pendingLoginUrl_.reset();
    auto& profile = current();
    if (!profile.account) profile.account = newAccount();
    if (!loginName.empty()) profile.account->loginName = loginName;
    profile.name = profile.account->loginName;
    starting_ = false;
    return true;
}

void StandInState::logout() {
    auto& profile = current();
    profile.account.reset();
    profile.name.clear();
    pendingLoginUrl_.reset();
    starting_ = false;
}

bool StandInState::switchProfile(std::string_view id) {
    if (!hasProfile(id)) return false;
    if (saved_.currentProfileId == id) return true;
    saved_.currentProfileId = std::string(id);
    pendingLoginUrl_.reset();
    starting_ = saved_.wantRunning && loggedIn();
    return true;
}

void StandInState::switchToEmpty() {
    saved_.profiles.push_back({newProfileId(), "", std::nullopt});
    saved_.currentProfileId = saved_.profiles.back().id;
    pendingLoginUrl_.reset();
    starting_ = false;
}

void StandInState::setWantRunning(bool want) {
    if (want && !saved_.wantRunning && loggedIn()) starting_ = true;
    if (!want) starting_ = false;
    saved_.wantRunning = want;
}

void StandInState::finishStarting() { starting_ = false; }

void StandInState::jail(std::string reason) { jailReason_ = std::move(reason); }

void StandInState::unjail() { jailReason_.reset(); }

void StandInState::reshapeNetMap(std::string_view hostName, std::size_t peers) {
    config_.hostName = dnsLabel(hostName);
    peerCount_ = peers;
}

StandInState::Backend StandInState::backend() const {
    if (pendingLoginUrl_ || !loggedIn()) return Backend::needsLogin;
    if (!saved_.wantRunning) return Backend::stopped;
    return starting_ ? Backend::starting : Backend::running;
}

std::string_view StandInState::name(Backend backend) {
    switch (backend) {
        case Backend::noState: return "NoState";
        case Backend::needsLogin: return "NeedsLogin";
        case Backend::stopped: return "Stopped";
        case Backend::starting: return "Starting";
        case Backend::running: return "Running";
    }
    return "NoState";
}

const StandInProfile& StandInState::currentProfile() const {
    return *std::ranges::find(saved_.profiles, saved_.currentProfileId, &StandInProfile::id);
}

StandInProfile& StandInState::current() {
    return *std::ranges::find(saved_.profiles, saved_.currentProfileId, &StandInProfile::id);
}

bool StandInState::hasProfile(std::string_view id) const {
    return std::ranges::find(saved_.profiles, id, &StandInProfile::id) != saved_.profiles.end();
}

const Account* StandInState::account() const {
    const auto& profile = currentProfile();
    return profile.account ? &*profile.account : nullptr;
}

Account StandInState::newAccount() {
    Account account;
    account.nodeId = randomId();
    account.userId = randomId();
    account.loginName = unusedLoginName();
    account.displayName = "User";
    account.network = "net" + randomHex(4);
    return account;
}

std::string StandInState::proposedLoginName() const {
    const auto* loggedInBefore = currentProfile().account ? &*currentProfile().account : nullptr;
    return loggedInBefore ? loggedInBefore->loginName : unusedLoginName();
}

// Each new account gets its own user, so that profiles can be told apart.
std::string StandInState::unusedLoginName() const {
    const auto used = [this](const std::string& loginName) {
        return std::ranges::any_of(saved_.profiles, [&](const auto& profile) {
            return profile.account && profile.account->loginName == loginName;
        });
    };
    std::string loginName = "user@example.com";
    for (int number = 2; used(loginName); ++number) {
        loginName = "user" + std::to_string(number) + "@example.com";
    }
    return loginName;
}

std::string StandInState::newProfileId() {
    for (;;) {
        auto id = randomHex(4);
        if (!hasProfile(id)) return id;
    }
}

std::string StandInState::randomHex(std::size_t digits) {
    std::string text;
    while (text.size() < digits) text += hexDigits(random_(), 16);
    return text.substr(0, digits);
}

// Positive and below 2^53, so that JSON readers that use doubles keep them exact.
std::int64_t StandInState::randomId() { return static_cast<std::int64_t>(random_() >> 11) + 1; }

std::string StandInState::statusJson() const {
    JsonWriter json;
    json.beginObject().key("backend_state").string(name(backend()));
    if (pendingLoginUrl_) json.key("interactive_login_url").string(*pendingLoginUrl_);
    const auto* loggedInAccount = account();
    if (loggedInAccount) json.key("tarnwick_ips").strings(addresses(loggedInAccount->nodeId));
    json.key("self").beginObject();
    json.key("id").number(loggedInAccount ? loggedInAccount->nodeId : 0);
    json.key("host_name").string(config_.hostName);
    if (loggedInAccount) json.key("tarnwick_ips").strings(addresses(loggedInAccount->nodeId));
    json.endObject();
    json.key("jailed").boolean(jailReason_.has_value());
    if (jailReason_) json.key("jail_reason").string(*jailReason_);
    return json.endObject().text();
}

std::string StandInState::profilesJson() const {
    JsonWriter json;
    json.beginObject().key("current_profile_id").string(saved_.currentProfileId);
    json.key("profiles").beginArray();
    for (const auto& profile : saved_.profiles) {
        json.beginObject().key("id").string(profile.id).key("name").string(profile.name);
        if (profile.account) {
            json.key("node_id").number(profile.account->nodeId);
            json.key("user_email").string(profile.account->loginName);
        }
        json.key("is_current").boolean(profile.id == saved_.currentProfileId).endObject();
    }
    return json.endArray().endObject().text();
}

std::string StandInState::prefsJson() const {
    JsonWriter json;
    json.beginObject().key("WantRunning").boolean(saved_.wantRunning);
    json.key("LoggedOut").boolean(!loggedIn());
    json.key("ConductorURL").string("https://" + config_.conductorHost);
    return json.endObject().text();
}

std::string StandInState::notificationJson() const {
    JsonWriter json;
    json.beginObject().key("Version").string(kVersion);
    json.key("State").number(static_cast<std::int64_t>(backend()));
    if (pendingLoginUrl_) json.key("InteractiveLoginUrl").string(*pendingLoginUrl_);
    json.key("Jailed").boolean(jailReason_.has_value());
    if (jailReason_) json.key("JailReason").string(*jailReason_);
    if (const auto* loggedInAccount = account()) {
        json.key("NetMap");
        writeNetMap(json, *loggedInAccount);
    }
    return json.endObject().text();
}

void StandInState::writeNetMap(JsonWriter& json, const Account& account) const {
    const auto selfName = fullName(config_.hostName, account.network);
    json.beginObject().key("SelfNode");
    writeNode(json, {account.nodeId, account.userId, selfName, "linux",
                     endpoint("192.0.2.", account.nodeId)});
    json.key("NodeKey").string(nodeKey(account.nodeId));
    json.key("PrivateWgKey").string("privkey:" + keyHex(account.nodeId, KeyKind::privateWg));
    json.key("Peers").beginArray();
    const std::size_t peers = peerCount_ == 0 ? kPeers.size() : peerCount_;
    for (std::size_t index = 0; index < peers; ++index) {
        const auto& peer = kPeers[index % kPeers.size()];
        const auto peerId = account.nodeId + 1 + static_cast<std::int64_t>(index);
        const auto label = index < kPeers.size()
                               ? std::string(peer.label)
                               : std::string(peer.label) + "-" + std::to_string(index);
        writeNode(json, {peerId, account.userId, fullName(label, account.network), peer.os,
                         endpoint("198.51.100.", peerId)});
    }
    json.endArray().key("DNSName").string(selfName);
    json.key("UserProfiles").beginObject().key(std::to_string(account.userId)).beginObject();
    json.key("LoginName").string(account.loginName).key("DisplayName").string(account.displayName);
    json.key("ProfileURL").string("").endObject().endObject();
    json.endObject();
}

}  // namespace tw
