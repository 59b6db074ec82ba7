#include "helper/PolkitAuthority.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <memory>

#include "base/UniqueFd.h"

namespace tw {

namespace {

struct BusCloser {
    void operator()(sd_bus* bus) const { ::sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { ::sd_bus_message_unref(message); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { ::sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

struct Answer {
    bool arrived = false;
    bool authorised = false;
};

// Reply signature (bba{ss}): is_authorized, is_challenge, details.
int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto& answer = *static_cast<Answer*>(userdata);
    answer.arrived = true;
    if (::sd_bus_message_is_method_error(reply, nullptr)) return 0;
    int authorised = 0;
    int challenge = 0;
    if (::sd_bus_message_enter_container(reply, 'r', "bba{ss}") >= 0 &&
        ::sd_bus_message_read(reply, "bb", &authorised, &challenge) >= 0) {
        answer.authorised = authorised != 0;
    }
    return 0;
}

Message checkAuthorization(sd_bus* bus, pid_t pid, uid_t uid, unsigned long long startTime,
                           std::string_view action) {
    sd_bus_message* raw = nullptr;
    if (::sd_bus_message_new_method_call(
            bus, &raw, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
            "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization") < 0) {
        return nullptr;
    }
    Message message(raw);
    const std::string actionId(action);
    // subject (sa{sv}), action_id s, details a{ss}, flags u (0: no interaction), cancellation s
    const int result = ::sd_bus_message_append(
        raw, "(sa{sv})sa{ss}us", "unix-process", 3, "pid", "u", static_cast<std::uint32_t>(pid),
        "start-time", "t", static_cast<std::uint64_t>(startTime), "uid", "i",
        static_cast<std::int32_t>(uid), actionId.c_str(), 0, 0u, "");
    return result < 0 ? nullptr : std::move(message);
}

}  // namespace

bool PolkitAuthority::authorises(pid_t pid, uid_t uid, std::string_view action) const {
    const auto start = startTime(pid);
    if (!start) return false;
    sd_bus* rawBus = nullptr;
    if (::sd_bus_open_system(&rawBus) < 0) return false;
    const Bus bus(rawBus);
    const Message call = checkAuthorization(rawBus, pid, uid, *start, action);
    if (!call) return false;
    const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(timeout_);
    Answer answer;
    sd_bus_slot* rawSlot = nullptr;
    if (::sd_bus_call_async(rawBus, &rawSlot, call.get(), onReply, &answer,
                            static_cast<std::uint64_t>(timeout.count())) < 0) {
        return false;
    }
    const Slot slot(rawSlot);
    // Our own loop, so that the connection's authentication and Hello are bounded as well.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!answer.arrived) {
        const int processed = ::sd_bus_process(rawBus, nullptr);
        if (processed < 0) return false;
        if (processed > 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (::sd_bus_wait(rawBus, static_cast<std::uint64_t>(left.count())) < 0) return false;
    }
    return answer.authorised;
}

std::optional<unsigned long long> PolkitAuthority::startTime(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return std::nullopt;
    char buffer[4096];
    const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count <= 0) return std::nullopt;
    const std::string_view stat(buffer, static_cast<std::size_t>(count));
    // The command name in parentheses may hold spaces and parentheses: field 3 follows the last
    // ')' and a space, and fields are separated by single spaces.
    std::size_t at = stat.rfind(')');
    for (int field = 2; field < 22 && at != std::string_view::npos; ++field) {
        at = stat.find(' ', at + 1);
    }
    if (at == std::string_view::npos) return std::nullopt;
    unsigned long long value = 0;
    const char* begin = stat.data() + at + 1;
    const auto [end, error] = std::from_chars(begin, stat.data() + stat.size(), value);
    if (error != std::errc() || end == begin) return std::nullopt;
    return value;
}

}  // namespace tw
