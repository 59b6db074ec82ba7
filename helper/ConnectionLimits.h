#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

namespace tw {

// How many connections the helper serves at once, in total and per user, so that one local user
// cannot take every thread (and every descriptor) of a root service. Root is not counted: it can
// do everything the helper does anyway, and its requests must get through a flood. Thread-safe.
class ConnectionLimits {
  public:
    struct Caps {
        std::size_t total = 64;
        std::size_t perUser = 8;
    };

    // Held while a connection is served; gives its place back when destroyed.
    class Slot {
      public:
        Slot(ConnectionLimits* limits, uid_t uid) : limits_(limits), uid_(uid) {}
        ~Slot();
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

      private:
        ConnectionLimits* limits_;  // none for root
        uid_t uid_;
    };

    explicit ConnectionLimits(Caps caps) : caps_(caps) {}

    // A place for one more connection of `uid`; nothing when a cap is reached.
    std::unique_ptr<Slot> admit(uid_t uid);

  private:
    void release(uid_t uid);

    const Caps caps_;
    std::mutex mutex_;
    std::size_t open_ = 0;
    std::map<uid_t, std::size_t> perUser_;
};

}  // namespace tw
