#include "bench/NetworkMapGenerator.h"

#include <array>
#include <cstdio>
#include <map>

namespace tw {

namespace {

constexpr std::uint64_t kStandardSeed = 20240517;
constexpr std::int64_t kFirstNodeID = 7'000'000'000'000'000;
constexpr std::int64_t kFirstUserID = 40'000'000'000;
constexpr std::array<std::string_view, 6> kSystems = {"linux", "windows", "macOS",
                                                      "iOS",   "android", "freebsd"};
constexpr std::array<std::string_view, 8> kWords = {"build", "desk", "edge", "lab",
                                                    "nas",   "phone", "relay", "vm"};

template <class... Args>
void appendFormatted(std::string& out, const char* format, Args... args) {
    const auto at = out.size();
    const auto length = static_cast<std::size_t>(std::snprintf(nullptr, 0, format, args...));
    out.resize(at + length + 1);  // room for the terminator snprintf writes
    std::snprintf(out.data() + at, length + 1, format, args...);
    out.resize(at + length);
}

std::string userKey(std::size_t user) { return std::to_string(kFirstUserID + static_cast<std::int64_t>(user)); }

}  // namespace

std::string NetworkMapGenerator::line(std::size_t peers) {
    const std::size_t users = (peers + 9) / 10;
    std::string out;
    out.reserve(peers * 700 + users * 200 + 1024);
    out += R"({"Version":"1.62.0-t4c1e2a9","State":4,"NetMap":{"SelfNode":)";
    appendNode(out, peers, users);
    out += R"(,"NodeKey":")" + key("nodekey") + R"(","PrivateWgKey":")" + key("privkey") +
           R"(","Peers":[)";
    for (std::size_t index = 0; index < peers; ++index) {
        if (index) out += ',';
        appendNode(out, index, users);
    }
    out += R"(],"DNSName":"self.example-mesh.tw.net.","UserProfiles":{)";
    for (std::size_t user = 0; user < users; ++user) {
        if (user) out += ',';
        appendUserProfile(out, user);
    }
    out += "}}}";
    return out;
}

const std::string& NetworkMapGenerator::standardLine(std::size_t peers) {
    static std::map<std::size_t, std::string> lines;
    auto [entry, inserted] = lines.try_emplace(peers);
    if (inserted) entry->second = NetworkMapGenerator(kStandardSeed).line(peers);
    return entry->second;
}

void NetworkMapGenerator::appendNode(std::string& out, std::size_t index, std::size_t users) {
    const auto host = static_cast<std::uint32_t>(index + 2);
    appendFormatted(out, R"({"Node":{"ID":%lld,"StableID":"n%08xCNTRL","Name":"%s-%zu.example-mesh.tw.net.",)",
                    static_cast<long long>(kFirstNodeID + static_cast<std::int64_t>(index)),
                    static_cast<unsigned>(random_()), kWords[below(kWords.size())].data(), index);
    out += R"("Key":")" + key("nodekey") + R"(","DiscoKey":")" + key("discokey") + "\",";
    appendAddresses(out, "Addresses", host, false);
    appendAddresses(out, "AllowedIPs", host, below(20) == 0);
    appendEndpoints(out);
    appendFormatted(out, R"("OS":"%s","UserID":%s,"Online":%s,"LastSeen":"2024-05-%02uT%02u:%02u:00Z"}})",
                    kSystems[below(kSystems.size())].data(), userKey(below(static_cast<std::uint32_t>(users))).c_str(),
                    below(3) ? "true" : "false", below(28) + 1, below(24), below(60));
}

void NetworkMapGenerator::appendUserProfile(std::string& out, std::size_t user) {
    const auto id = userKey(user);
    appendFormatted(out,
                    R"("%s":{"ID":%s,"LoginName":"user%zu@example.com","DisplayName":"User %zu",)"
                    R"("ProfileURL":"https://avatars.example.com/u/%s.png","Roles":[]})",
                    id.c_str(), id.c_str(), user, user, id.c_str());
}

// Every peer has one IPv4 and one IPv6 address in the mesh's ranges; some also route a subnet.
void NetworkMapGenerator::appendAddresses(std::string& out, std::string_view key, std::uint32_t host,
                                          bool withRoute) {
    appendFormatted(out, R"("%.*s":["100.%u.%u.%u/32","fd5e:2b1c:9a40::%x:%x/128")",
                    static_cast<int>(key.size()), key.data(),
                    64 + (host >> 16) % 64, (host >> 8) & 0xFF, host & 0xFF, host >> 16,
                    host & 0xFFFF);
    if (withRoute) appendFormatted(out, R"(,"10.%u.%u.0/24")", below(256), below(256));
    out += "],";
}

void NetworkMapGenerator::appendEndpoints(std::string& out) {
    appendFormatted(out, R"("Endpoints":["198.51.100.%u:%u","[2001:db8:%x::%x]:41641")", below(256),
                    1024 + below(60000), below(0xFFFF), below(0xFFFF));
    if (below(2)) appendFormatted(out, R"(,"192.168.%u.%u:41641")", below(256), below(256));
    out += "],";
}

std::string NetworkMapGenerator::key(std::string_view kind) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text(kind);
    text += ':';
    for (int word = 0; word < 4; ++word) {
        std::uint64_t bits = random_();
        for (int digit = 0; digit < 16; ++digit, bits >>= 4) text += kHex[bits & 0xF];
    }
    return text;
}

}  // namespace tw
