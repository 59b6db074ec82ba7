#pragma once

#include <sys/types.h>

#include <expected>
#include <vector>

namespace tw {

// Who is at the other end of a Unix socket, as the kernel recorded it when the peer connected.
struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // supplementary groups

    // SO_PEERCRED and SO_PEERGROUPS of a connected socket; errno on failure.
    static std::expected<PeerCredentials, int> of(int socket);
};

}  // namespace tw
