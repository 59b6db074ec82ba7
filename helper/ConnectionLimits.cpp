#include "helper/ConnectionLimits.h"

namespace tw {

ConnectionLimits::Slot::~Slot() {
    if (limits_ != nullptr) limits_->release(uid_);
}

std::unique_ptr<ConnectionLimits::Slot> ConnectionLimits::admit(uid_t uid) {
    if (uid == 0) return std::make_unique<Slot>(nullptr, uid);
    std::lock_guard lock(mutex_);
    auto& mine = perUser_[uid];
    if (open_ >= caps_.total || mine >= caps_.perUser) {
        if (mine == 0) perUser_.erase(uid);
        return nullptr;
    }
    ++open_;
    ++mine;
    return std::make_unique<Slot>(this, uid);
}

void ConnectionLimits::release(uid_t uid) {
    std::lock_guard lock(mutex_);
    --open_;
    if (--perUser_[uid] == 0) perUser_.erase(uid);
}

}  // namespace tw
