// The real helper while another local user (`nobody`, played by a forked child that drops its
// uid) floods it with connections or trickles requests a byte at a time: root keeps being
// served, the helper's threads stay within its caps and return to idle afterwards. Each test
// prints what it measured (threads, descriptors, RSS, a root ping's latency during the attack);
// TW_HELPER_UNDER_TEST runs the same attack against another build.

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/UnixSocket.h"
#include "helper/ConnectionLimits.h"
#include "tests/helper/RunningHelper.h"

namespace tw {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
constexpr int kFloodConnections = 2000;
constexpr int kTricklers = 32;
constexpr auto kTrickleFor = 12s;      // longer than a whole request may take
constexpr auto kTrickleEvery = 1s;

struct Figures {
    long threads = 0;
    long fds = 0;
    long rssKiB = 0;
};

long statusField(pid_t pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(name + ":")) return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}

Figures figuresOf(pid_t pid) {
    Figures figures{statusField(pid, "Threads"), 0, statusField(pid, "VmRSS")};
    std::error_code ignored;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ignored),
         end;
         !ignored && it != end; it.increment(ignored)) {
        ++figures.fds;
    }
    return figures;
}

void print(const char* when, const Figures& figures) {
    std::printf("[ figures  ] %-22s threads %4ld  fds %5ld  RSS %7ld KiB\n", when, figures.threads,
                figures.fds, figures.rssKiB);
}

// A root ping on a fresh connection: its reply line and how long it took.
std::pair<std::string, double> timedPing(const RunningHelper& helper) {
    const auto started = Clock::now();
    const auto replies =
        helper.exchange(HelperToolProtocol::encodeRequest(HelperToolProtocol::Ping{}), 1);
    const std::chrono::duration<double, std::milli> took = Clock::now() - started;
    return {replies.empty() ? std::string() : replies.front(), took.count()};
}

// Runs `attack` in a forked child as `nobody`, with room for many descriptors; the child reports
// on `ready` once its connections are open and keeps them until `release` is closed.
class AttackerAsNobody {
public:
    template <typename Attack>
    explicit AttackerAsNobody(Attack attack) {
        int readyEnds[2];
        int releaseEnds[2];
        if (::pipe(readyEnds) != 0 || ::pipe(releaseEnds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(readyEnds[0]);
            ::close(releaseEnds[1]);
            const rlimit files{8192, 8192};
            ::setrlimit(RLIMIT_NOFILE, &files);
            const gid_t groups[] = {kNogroup};
            if (::setgroups(1, groups) != 0 || ::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0) {
                ::_exit(10);
            }
            ::signal(SIGPIPE, SIG_IGN);
            attack(readyEnds[1], releaseEnds[0]);
            ::_exit(0);
        }
        ::close(readyEnds[1]);
        ::close(releaseEnds[0]);
        ready_ = readyEnds[0];
        release_ = releaseEnds[1];
    }

    ~AttackerAsNobody() {
        stop();
    }

    // The count the attacker reported once ready.
    int waitUntilReady() const {
        int count = -1;
        if (::read(ready_, &count, sizeof count) != sizeof count) return -1;
        return count;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::close(release_);
        ::close(ready_);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int ready_ = -1;
    int release_ = -1;
};

// Connected socket (connect bounded, as a full backlog would block it), or -1.
int connectTo(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

void report(int ready, int count) {
    [[maybe_unused]] const auto written = ::write(ready, &count, sizeof count);
}

void waitForRelease(int release) {
    char byte;
    [[maybe_unused]] const auto read = ::read(release, &byte, 1);
}

class HelperHostileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
        helper.start();
        const auto address = UnixSocket::address(helper.socket());
        ASSERT_TRUE(address.has_value());
        address_ = *address;
        idle_ = figuresOf(helper.pid());
        print("idle", idle_);
    }

    // Whether the helper's threads came back to the idle count.
    bool returnsToIdle() const {
        const bool idle =
            RunningHelper::waitUntil([&] { return figuresOf(helper.pid()).threads <= idle_.threads; });
        print("after the attack", figuresOf(helper.pid()));
        return idle;
    }

    // One thread per admitted connection, root's among them. A thread that has given its slot
    // back may still be ending while its successor starts, so a per-user cap's worth of those
    // is allowed for too; a thread per connection attempt would be thousands.
    long threadCap() const { return idle_.threads + 2 * ConnectionLimits::Caps{}.perUser + 1; }

    RunningHelper helper;
    sockaddr_un address_{};
    Figures idle_;
};

TEST_F(HelperHostileTest, ServesRootWhileAnotherUserHoldsThousandsOfConnections) {
    AttackerAsNobody flood([address = address_](int ready, int release) {
        int open = 0;
        for (int index = 0; index < kFloodConnections; ++index) open += connectTo(address) >= 0;
        report(ready, open);
        waitForRelease(release);
    });
    const int open = flood.waitUntilReady();
    const auto during = figuresOf(helper.pid());
    const auto [reply, milliseconds] = timedPing(helper);
    print("during the flood", during);
    std::printf("[ figures  ] nobody connected %d of %d; root ping %.1f ms\n", open,
                kFloodConnections, milliseconds);
    EXPECT_EQ(reply, R"({"reply":true})");
    EXPECT_LE(during.threads, threadCap());
    flood.stop();
    EXPECT_TRUE(returnsToIdle());
}

TEST_F(HelperHostileTest, ServesRootWhileAnotherUserTricklesRequests) {
    AttackerAsNobody trickle([address = address_](int ready, int release) {
        std::vector<int> fds;
        for (int index = 0; index < kTricklers; ++index) fds.push_back(connectTo(address));
        report(ready, static_cast<int>(fds.size()));
        const auto until = Clock::now() + kTrickleFor;
        while (Clock::now() < until) {
            for (const int fd : fds) ::send(fd, "{", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(kTrickleEvery);
        }
        waitForRelease(release);
    });
    trickle.waitUntilReady();
    Figures worst = figuresOf(helper.pid());
    double slowestPing = 0;
    const auto until = Clock::now() + kTrickleFor;
    while (Clock::now() < until) {
        const auto [reply, milliseconds] = timedPing(helper);
        EXPECT_EQ(reply, R"({"reply":true})");
        slowestPing = std::max(slowestPing, milliseconds);
        const auto now = figuresOf(helper.pid());
        if (now.threads > worst.threads) worst = now;
        std::this_thread::sleep_for(500ms);
    }
    print("during the trickle", worst);
    std::printf("[ figures  ] slowest root ping during the trickle %.1f ms\n", slowestPing);
    EXPECT_LE(worst.threads, threadCap());
    trickle.stop();
    EXPECT_TRUE(returnsToIdle());
}

}  // namespace
}  // namespace tw
