#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "helper/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace tw {

// A private message bus (dbus-daemon with a test configuration) with a stand-in for polkit's
// authority on it, which answers every CheckAuthorization with a fixed verdict and records what
// it was asked. Clients reach it through address().
class FakePolkit {
  public:
    struct Check {
        std::string subjectKind;
        std::uint32_t pid = 0;
        std::uint64_t startTime = 0;
        std::int32_t uid = -1;
        std::string action;
        std::uint32_t flags = 0;
    };

    // Whether dbus-daemon is installed; without it the tests that need a bus skip.
    static bool available();

    // Starts the bus; `authorise` is the verdict; with `registerAuthority` false the bus
    // carries no polkit at all.
    FakePolkit(bool authorise, bool registerAuthority = true);
    ~FakePolkit();
    FakePolkit(const FakePolkit&) = delete;
    FakePolkit& operator=(const FakePolkit&) = delete;

    bool ready() const { return ready_; }
    std::string address() const { return "unix:path=" + dir_.file("bus"); }
    std::vector<Check> checks() const;

  private:
    static int onMessage(sd_bus_message* message, void* userdata, sd_bus_error* error);
    int answer(sd_bus_message* message);
    bool startBus();
    bool connectAuthority();
    void serve();

    TempDir dir_;
    const bool authorise_;
    std::optional<ChildProcess> daemon_;
    UniqueFd output_;  // kept open: the bus dies of SIGPIPE when it warns into a closed pipe
    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    bool ready_ = false;
    mutable std::mutex mutex_;
    std::vector<Check> checks_;
};

}  // namespace tw
