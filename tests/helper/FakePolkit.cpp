#include "tests/helper/FakePolkit.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>

namespace tw {

namespace {

constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";

std::string busConfig(const std::string& socketPath) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=)" +
           socketPath + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";
}

// Reads the subject (sa{sv}) of a CheckAuthorization call.
int readSubject(sd_bus_message* message, FakePolkit::Check& check) {
    const char* kind = nullptr;
    int result = ::sd_bus_message_enter_container(message, 'r', "sa{sv}");
    if (result >= 0) result = ::sd_bus_message_read(message, "s", &kind);
    if (result < 0) return result;
    check.subjectKind = kind;
    if ((result = ::sd_bus_message_enter_container(message, 'a', "{sv}")) < 0) return result;
    while ((result = ::sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((result = ::sd_bus_message_read(message, "s", &key)) < 0) return result;
        const std::string name(key);
        if (name == "pid") {
            result = ::sd_bus_message_read(message, "v", "u", &check.pid);
        } else if (name == "start-time") {
            result = ::sd_bus_message_read(message, "v", "t", &check.startTime);
        } else if (name == "uid") {
            result = ::sd_bus_message_read(message, "v", "i", &check.uid);
        } else {
            result = ::sd_bus_message_skip(message, "v");
        }
        if (result < 0) return result;
        if ((result = ::sd_bus_message_exit_container(message)) < 0) return result;
    }
    if (result < 0) return result;
    if ((result = ::sd_bus_message_exit_container(message)) < 0) return result;
    return ::sd_bus_message_exit_container(message);
}

}  // namespace

bool FakePolkit::available() { return ::access(kDbusDaemon, X_OK) == 0; }

FakePolkit::FakePolkit(bool authorise, bool registerAuthority) : authorise_(authorise) {
    if (!startBus()) return;
    if (registerAuthority && !connectAuthority()) return;
    ready_ = true;
    if (registerAuthority) thread_ = std::thread([this] { serve(); });
}

FakePolkit::~FakePolkit() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::sd_bus_slot_unref(slot_);
    ::sd_bus_flush_close_unref(bus_);
    if (daemon_) daemon_->kill();
}

bool FakePolkit::startBus() {
    const std::string config = dir_.file("bus.conf");
    std::ofstream(config) << busConfig(dir_.file("bus"));
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    output_.reset(ends[0]);
    UniqueFd writing(ends[1]);
    auto daemon = ChildProcess::launch(
        kDbusDaemon, {"--config-file=" + config, "--nofork", "--print-address"},
        ChildEnvironment::ofThisProcess(), {.output = writing.get()});
    writing.reset();
    if (!daemon) return false;
    daemon_ = std::move(*daemon);
    // The address line comes once the bus listens; warnings may come before it.
    std::string printed;
    while (printed.find("unix:path=") == std::string::npos ||
           printed.find('\n', printed.find("unix:path=")) == std::string::npos) {
        pollfd readable{output_.get(), POLLIN, 0};
        char buffer[512];
        if (::poll(&readable, 1, 10000) != 1) return false;
        const ssize_t count = ::read(output_.get(), buffer, sizeof buffer);
        if (count <= 0) return false;
        printed.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

bool FakePolkit::connectAuthority() {
    if (::sd_bus_new(&bus_) < 0) return false;
    if (::sd_bus_set_address(bus_, address().c_str()) < 0 || ::sd_bus_set_bus_client(bus_, 1) < 0 ||
        ::sd_bus_start(bus_) < 0) {
        return false;
    }
    if (::sd_bus_add_object(bus_, &slot_, "/org/freedesktop/PolicyKit1/Authority", onMessage,
                            this) < 0) {
        return false;
    }
    return ::sd_bus_request_name(bus_, "org.freedesktop.PolicyKit1", 0) >= 0;
}

void FakePolkit::serve() {
    while (!stop_) {
        const int processed = ::sd_bus_process(bus_, nullptr);
        if (processed < 0) return;
        if (processed == 0) ::sd_bus_wait(bus_, 20'000);
    }
}

int FakePolkit::onMessage(sd_bus_message* message, void* userdata, sd_bus_error*) {
    if (!::sd_bus_message_is_method_call(message, "org.freedesktop.PolicyKit1.Authority",
                                         "CheckAuthorization")) {
        return 0;
    }
    return static_cast<FakePolkit*>(userdata)->answer(message);
}

int FakePolkit::answer(sd_bus_message* message) {
    Check check;
    const char* action = nullptr;
    const char* cancellation = nullptr;
    int result = readSubject(message, check);
    if (result >= 0) result = ::sd_bus_message_read(message, "s", &action);
    if (result >= 0) result = ::sd_bus_message_skip(message, "a{ss}");
    if (result >= 0) result = ::sd_bus_message_read(message, "us", &check.flags, &cancellation);
    if (result < 0) {
        return ::sd_bus_reply_method_errorf(message, "org.freedesktop.DBus.Error.InvalidArgs",
                                            "unexpected arguments");
    }
    check.action = action;
    {
        const std::lock_guard lock(mutex_);
        checks_.push_back(check);
    }
    return ::sd_bus_reply_method_return(message, "(bba{ss})", authorise_ ? 1 : 0, 0, 0);
}

std::vector<FakePolkit::Check> FakePolkit::checks() const {
    const std::lock_guard lock(mutex_);
    return checks_;
}

}  // namespace tw
