#include "helper/PeerAuthoriser.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace tw {

namespace {

// Looked up on every connection: the group may be created after the helper started.
std::optional<gid_t> groupId(const std::string& name) {
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    while (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr) return std::nullopt;
    return found->gr_gid;
}

}  // namespace

// A peer of the helper's own user could do all the helper does anyway; as root that is uid 0.
PeerAuthoriser::Access PeerAuthoriser::access(const PeerCredentials& peer) const {
    if (peer.uid == 0 || peer.uid == ::geteuid() || isMember(peer)) return Access::full;
    return polkit_(peer) ? Access::session : Access::refused;
}

// The groups the peer's process holds, not the group database: they are what the kernel checks
// too, and a member whose session predates the membership is not one yet.
bool PeerAuthoriser::isMember(const PeerCredentials& peer) const {
    const auto gid = groupId(group_);
    if (!gid) return false;
    return peer.gid == *gid || std::ranges::find(peer.groups, *gid) != peer.groups.end();
}

}  // namespace tw
