#include "helper/PeerCredentials.h"

#include <sys/socket.h>

#include <cerrno>

namespace tw {

namespace {

std::expected<std::vector<gid_t>, int> peerGroups(int socket) {
    std::vector<gid_t> groups(64);
    for (;;) {
        auto length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (::getsockopt(socket, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
            groups.resize(length / sizeof(gid_t));
            return groups;
        }
        // ERANGE reports the length needed.
        if (errno != ERANGE) return std::unexpected(errno);
        groups.resize(length / sizeof(gid_t) + 1);
    }
}

}  // namespace

std::expected<PeerCredentials, int> PeerCredentials::of(int socket) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return std::unexpected(errno);
    }
    auto groups = peerGroups(socket);
    if (!groups) return std::unexpected(groups.error());
    return PeerCredentials{credentials.pid, credentials.uid, credentials.gid, std::move(*groups)};
}

}  // namespace tw
