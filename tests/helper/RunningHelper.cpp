#include "tests/helper/RunningHelper.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "base/UnixSocket.h"
#include "helper/ChildProcess.h"
#include "shared/LineReader.h"

namespace tw {

namespace {

using namespace std::chrono_literals;
using Protocol = HelperToolProtocol;

// DIR stands for the test's folder.
constexpr std::string_view kCli = R"(#!/bin/sh
case "$1" in
  empty) ;;
  latin1) printf 'caf\351\n'; exit "$2" ;;
  text-then-fail) echo "text before failing"; exit 1 ;;
  merged) echo out; echo err >&2; echo out2 ;;
  env) echo "PATH=$PATH"; echo "TW_SKIP_RUNNING_CHECK=${TW_SKIP_RUNNING_CHECK-unset}"
       echo "LISTEN_FDS=${LISTEN_FDS-unset}" ;;
  big) head -c 1100000 /dev/zero | tr '\0' a ;;
  touch) : > "DIR/touched" ;;
  hang) sleep 1000 ;;
  *) echo "tarnwick $*" ;;
esac
)";

// Records itself in DIR/running while up, and in DIR/overlaps when it finds another one up.
constexpr std::string_view kDaemon = R"(#!/bin/sh
if [ "$1" != up ]; then echo "tarnwickd help: $*"; exit 0; fi
case " $* " in *" --ignore-term "*)
  trap '' TERM
  echo $$ > "DIR/running/$$"
  while :; do sleep 0.05; done ;;
esac
trap 'rm -f "DIR/running/$$"; [ -n "$sleeper" ] && kill "$sleeper"; exit 0' TERM
for other in "DIR/running/"*; do
  [ -e "$other" ] && echo "$$ found ${other##*/}" >> "DIR/overlaps"
done
echo $$ > "DIR/running/$$"
echo "tarnwickd $*"
echo "TW_SKIP_RUNNING_CHECK=$TW_SKIP_RUNNING_CHECK PATH=$PATH"
sleep 1000 & sleeper=$!
wait "$sleeper"
)";

constexpr std::string_view kPkill = R"(#!/bin/sh
echo "$*" >> "DIR/pkill-calls"
)";

std::string replaceDir(std::string_view script, const std::string& dir) {
    std::string text(script);
    for (std::size_t at; (at = text.find("DIR")) != std::string::npos;) text.replace(at, 3, dir);
    return text;
}

void writeExecutable(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
    ::chmod(path.c_str(), 0755);
}

std::optional<pid_t> pidAfter(const std::string& line, std::string_view prefix) {
    if (!line.starts_with(prefix)) return std::nullopt;
    return static_cast<pid_t>(std::stol(line.substr(prefix.size())));
}

std::optional<UniqueFd> connectWithPatience(const std::string& path) {
    auto socket = UnixSocket::connect(path);
    if (!socket) return std::nullopt;
    const timeval timeout{std::chrono::seconds(RunningHelper::kPatience).count(), 0};
    ::setsockopt(socket->get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return std::move(*socket);
}

// Runs in a forked child of a possibly threaded process: system calls only.
[[noreturn]] void exchangeInChild(const sockaddr_un& address, uid_t uid, gid_t gid,
                                  const std::vector<gid_t>& groups, const std::string& line,
                                  int result) {
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 ||
        ::setuid(uid) != 0) {
        ::_exit(10);
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::_exit(11);
    }
    // A refused peer is answered without being read: its reply may already wait when the
    // request cannot be written any more.
    ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    static char buffer[64 * 1024];
    std::size_t size = 0;
    while (size < sizeof buffer && std::memchr(buffer, '\n', size) == nullptr) {
        const ssize_t count = ::read(fd, buffer + size, sizeof buffer - size);
        if (count <= 0) break;
        size += static_cast<std::size_t>(count);
    }
    ::_exit(::write(result, buffer, size) == static_cast<ssize_t>(size) ? 0 : 13);
}

}  // namespace

RunningHelper::RunningHelper() {
    // The helper's children outlive it; as their subreaper this process can reap them instead of
    // leaving zombies behind.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    // Other users must reach the socket for the tests of who may connect.
    ::chmod(dir_.path().c_str(), 0755);
    writeBundle();
}

RunningHelper::~RunningHelper() {
    if (pid_ > 0) {
        // The helper leads its own process group; commands it still runs are in it too.
        ::kill(-pid_, SIGKILL);
        reapGroup(pid_);
    }
    stopDaemons();
}

void RunningHelper::writeBundle() const {
    const std::string dir = dir_.path().string();
    std::filesystem::create_directories(dir_.path() / "Resources");
    std::filesystem::create_directories(dir_.path() / "running");
    writeExecutable(cli(), replaceDir(kCli, dir));
    writeExecutable(daemon(), replaceDir(kDaemon, dir));
    writeExecutable(dir_.file("pkill"), replaceDir(kPkill, dir));
}

std::vector<std::string> RunningHelper::arguments(const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {
        "--socket",  socket_,   "--daemon-socket",  daemonSocket(),  "--daemon-log",
        daemonLog(), "--pkill", dir_.file("pkill"), "--syslog-file", dir_.file("syslog"),
    };
    if (!installed_) arguments.insert(arguments.end(), {"--resources", dir_.file("Resources")});
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// <dir>/prefix/libexec/tarnwick/tarnwick-helper, with <dir>/prefix/lib/tarnwick/Resources
// leading to the fake bundle.
std::string RunningHelper::install() const {
    const auto prefix = dir_.path() / "prefix";
    std::filesystem::create_directories(prefix / "libexec" / "tarnwick");
    std::filesystem::create_directories(prefix / "lib" / "tarnwick");
    std::filesystem::create_directory_symlink(dir_.path() / "Resources",
                                              prefix / "lib" / "tarnwick" / "Resources");
    const auto helper = prefix / "libexec" / "tarnwick" / "tarnwick-helper";
    std::filesystem::copy_file(binary(), helper);
    return helper.string();
}

std::pair<std::string, std::vector<std::string>> RunningHelper::command(
    const std::vector<std::string>& extra) const {
    const std::string helper = installed_ ? install() : binary();
    if (!activated_) return {helper, arguments(extra)};
    std::vector<std::string> activation = {"-l", socket_, helper};
    const auto helperArguments = arguments(extra);
    activation.insert(activation.end(), helperArguments.begin(), helperArguments.end());
    activation.insert(activation.end(), {"--socket", unboundSocket()});
    return {kSocketActivate, activation};
}

std::string RunningHelper::binary() {
    const char* other = std::getenv("TW_HELPER_UNDER_TEST");
    return other != nullptr && *other != '\0' ? std::string(other) : std::string(TW_HELPER_BINARY);
}

void RunningHelper::start(const std::vector<std::string>& extraArguments, std::string busAddress) {
    ChildEnvironment environment = ChildEnvironment::ofThisProcess();
    if (busAddress.empty()) busAddress = "unix:path=" + dir_.file("no-bus");
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", busAddress);
    const UniqueFd output(
        ::open(dir_.file("helper.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    const auto [program, programArguments] = command(extraArguments);
    auto helper = ChildProcess::launch(program, programArguments, environment,
                                       {.output = output.get(), .newSession = true});
    ASSERT_TRUE(helper.has_value()) << "cannot start " << program;
    pid_ = helper->pid();
    ASSERT_TRUE(waitUntil([&] { return UnixSocket::connect(socket_).has_value(); }))
        << "the helper does not listen: " << helperOutput();
}

std::string RunningHelper::run(const std::string& path,
                               const std::vector<std::string>& arguments) const {
    const auto reply = request(Protocol::RunGoTool{path, arguments});
    if (const auto* text = std::get_if<Protocol::RunGoToolReply>(&reply)) return text->text;
    if (const auto* error = std::get_if<Protocol::ErrorReply>(&reply)) {
        return "<error reply: " + error->message + ">";
    }
    return "<ping reply>";
}

Protocol::Reply RunningHelper::request(const Protocol::Request& request) const {
    const auto replies = exchange(Protocol::encodeRequest(request), 1);
    if (replies.size() != 1) return Protocol::ErrorReply{"<no reply>"};
    const auto reply = Protocol::decodeReply(replies.front());
    if (!reply) return Protocol::ErrorReply{"<undecodable reply: " + reply.error().message + ">"};
    return *reply;
}

std::vector<std::string> RunningHelper::exchange(const std::string& bytes, std::size_t count,
                                                 bool halfClose) const {
    const auto socket = connectWithPatience(this->socket());
    if (!socket) return {};
    if (!UnixSocket::sendAll(socket->get(), bytes)) return {};
    if (halfClose) ::shutdown(socket->get(), SHUT_WR);
    LineReader reader(socket->get(), Protocol::kMaxReplyLineBytes);
    std::vector<std::string> replies;
    while (replies.size() < count) {
        auto line = reader.next();
        if (!line) break;
        replies.push_back(std::move(*line));
    }
    return replies;
}

std::string RunningHelper::exchangeAs(uid_t uid, const std::vector<gid_t>& groups,
                                      const std::string& line) const {
    const auto address = UnixSocket::address(socket());
    if (!address) return "<socket path too long>";
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return "<no pipe>";
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    const gid_t gid = groups.empty() ? static_cast<gid_t>(uid) : groups.front();
    const pid_t child = ::fork();
    if (child == 0) exchangeInChild(*address, uid, gid, groups, line, writing.get());
    writing.reset();
    std::string reply;
    char buffer[4096];
    for (ssize_t count; (count = ::read(reading.get(), buffer, sizeof buffer)) > 0;) {
        reply.append(buffer, static_cast<std::size_t>(count));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "<client failed with " + std::to_string(status) + ">";
    }
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    return reply;
}

std::vector<std::string> RunningHelper::systemLog() const { return lines(dir_.file("syslog")); }

std::size_t RunningHelper::systemLogCount(const std::string& line) const {
    const auto all = systemLog();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), line));
}

std::vector<pid_t> RunningHelper::spawnedDaemons() const {
    std::vector<pid_t> pids;
    for (const auto& line : systemLog()) {
        if (auto pid = pidAfter(line, "spawned tarnwickd up (non-blocking), pid: ")) {
            pids.push_back(*pid);
        }
    }
    return pids;
}

std::vector<pid_t> RunningHelper::runningDaemons() const {
    std::vector<pid_t> pids;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / "running")) {
        pids.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::vector<std::string> RunningHelper::pkillCalls() const {
    return lines(dir_.file("pkill-calls"));
}

std::string RunningHelper::helperOutput() const { return contents(dir_.file("helper.out")); }

// Each daemon leads a process group of its own, with its sleep. Only groups of this test are
// killed (their leader's command line names its folder); with the helper gone, whatever is left
// of them are children of this process and are reaped.
void RunningHelper::stopDaemons() const {
    for (const pid_t pid : spawnedDaemons()) {
        const std::string commandLine = contents("/proc/" + std::to_string(pid) + "/cmdline");
        if (commandLine.find(dir_.path().string()) != std::string::npos) ::kill(-pid, SIGKILL);
        reapGroup(pid);
    }
}

void RunningHelper::reapGroup(pid_t group) {
    waitUntil([group] { return ::waitpid(-group, nullptr, WNOHANG) < 0 && errno == ECHILD; });
}

std::string RunningHelper::contents(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> RunningHelper::lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> result;
    for (std::string line; std::getline(file, line);) result.push_back(line);
    return result;
}

bool RunningHelper::waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace tw
