#pragma once

#include <functional>
#include <string>

#include "helper/PeerCredentials.h"

namespace tw {

// Decides who may use the helper, which runs what it is asked to as root: root (and the helper's
// own user, when it runs as another), members of one group, and anyone polkit grants the
// helper's action to.
class PeerAuthoriser {
  public:
    // Asked last, only for peers that neither of the other rules allows.
    using PolkitCheck = std::function<bool(const PeerCredentials&)>;

    PeerAuthoriser(std::string group, PolkitCheck polkit)
        : group_(std::move(group)), polkit_(std::move(polkit)) {}

    bool allows(const PeerCredentials& peer) const;
    const std::string& group() const { return group_; }

  private:
    bool isMember(const PeerCredentials& peer) const;

    std::string group_;
    PolkitCheck polkit_;
};

}  // namespace tw
