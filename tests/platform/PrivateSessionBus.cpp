#include "tests/platform/PrivateSessionBus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "base/UniqueFd.h"

extern char** environ;

namespace tw {

namespace {

std::string configuration(const std::string& socketPath) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
           socketPath + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}

// The first line the daemon prints: its address.
std::string readLine(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
    const auto config = dir_.file("bus.conf");
    std::ofstream(config) << configuration(dir_.file("bus"));
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    UniqueFd readEnd(output[0]);
    UniqueFd writeEnd(output[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    const std::string configArgument = "--config-file=" + config;
    const char* argv[] = {"dbus-daemon", configArgument.c_str(), "--print-address", "--nofork",
                          nullptr};
    const int spawned = ::posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr,
                                       const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start dbus-daemon");
    writeEnd.reset();
    address_ = readLine(readEnd.get());
    if (address_.empty()) {
        stop();
        throw std::runtime_error("dbus-daemon printed no address");
    }
    environment_.emplace("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
}

PrivateSessionBus::~PrivateSessionBus() {
    environment_.reset();
    stop();
}

void PrivateSessionBus::stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

}  // namespace tw
