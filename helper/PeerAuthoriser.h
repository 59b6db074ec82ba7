#pragma once

#include <functional>
#include <string>

#include "helper/PeerCredentials.h"

namespace tw {

// Decides who may use the helper, which runs what it is asked to as root, and how far: root (and
// the helper's own user, when it runs as another) and members of one group in full; anyone polkit
// grants the helper's action to (the active session's users) only for what the application
// itself asks.
class PeerAuthoriser {
  public:
    enum class Access { refused, session, full };

    // Asked last, only for peers that neither of the other rules allows.
    using PolkitCheck = std::function<bool(const PeerCredentials&)>;

    PeerAuthoriser(std::string group, PolkitCheck polkit)
        : group_(std::move(group)), polkit_(std::move(polkit)) {}

    Access access(const PeerCredentials& peer) const;
    const std::string& group() const { return group_; }

  private:
    bool isMember(const PeerCredentials& peer) const;

    std::string group_;
    PolkitCheck polkit_;
};

}  // namespace tw
