#include "base/UnixSocket.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <istream>
#include <string>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

using Kind = UnixSocket::Error::Kind;

// Leaves stack garbage where address() builds its result, so that a missing zero-fill shows.
[[gnu::noinline]] void scribbleOnStack() {
    volatile unsigned char junk[4096];
    for (auto& byte : junk) byte = 0xAA;
}

bool allZero(const char* begin, const char* end) {
    return std::all_of(begin, end, [](char c) { return c == '\0'; });
}

class UnixSocketTest : public ::testing::Test {
protected:
    // A path inside the temporary folder padded to exactly `length` bytes.
    std::string pathOfLength(std::size_t length) const {
        std::string path = dir.path().string() + "/";
        if (path.size() >= length) return {};
        path.append(length - path.size(), 's');
        return path;
    }

    TempDir dir;
    const std::string socketPath = dir.file("s");
};

// --- addresses ---

TEST_F(UnixSocketTest, AddressAcceptsTheLongestPathZeroTerminatedAndZeroFilled) {
    const std::string path(UnixSocket::kMaxPathLength, 'p');
    ASSERT_EQ(path.size(), 103u);
    scribbleOnStack();

    const auto addr = UnixSocket::address(path);

    ASSERT_TRUE(addr.has_value());
    EXPECT_EQ(addr->sun_family, AF_UNIX);
    EXPECT_EQ(std::string(addr->sun_path, path.size()), path);
    EXPECT_TRUE(allZero(addr->sun_path + path.size(), std::end(addr->sun_path)));
}

TEST_F(UnixSocketTest, AddressZeroFillsEverythingAfterAShortPath) {
    scribbleOnStack();
    const auto addr = UnixSocket::address("/run/x");
    ASSERT_TRUE(addr.has_value());
    EXPECT_STREQ(addr->sun_path, "/run/x");
    EXPECT_TRUE(allZero(addr->sun_path + 6, std::end(addr->sun_path)));
}

TEST_F(UnixSocketTest, AddressRefusesAPathOneByteTooLong) {
    const auto addr = UnixSocket::address(std::string(UnixSocket::kMaxPathLength + 1, 'p'));
    ASSERT_FALSE(addr.has_value());
    EXPECT_EQ(addr.error().kind, Kind::pathTooLong);
    EXPECT_EQ(addr.error().errorNumber, 0);
}

TEST_F(UnixSocketTest, ConnectAndListenRefuseAPathOneByteTooLongWithoutTruncatingIt) {
    const auto path = pathOfLength(UnixSocket::kMaxPathLength + 1);
    ASSERT_FALSE(path.empty()) << "temporary folder path too long for this test";

    const auto listener = UnixSocket::listen(path);
    const auto client = UnixSocket::connect(path);

    ASSERT_FALSE(listener.has_value());
    EXPECT_EQ(listener.error().kind, Kind::pathTooLong);
    ASSERT_FALSE(client.has_value());
    EXPECT_EQ(client.error().kind, Kind::pathTooLong);
    EXPECT_NE(::access(path.substr(0, UnixSocket::kMaxPathLength).c_str(), F_OK), 0);
}

// --- connecting ---

TEST_F(UnixSocketTest, ConnectToAPathWithoutASocketFileFailsWithENOENT) {
    const auto client = UnixSocket::connect(socketPath);
    ASSERT_FALSE(client.has_value());
    EXPECT_EQ(client.error().kind, Kind::connectFailed);
    EXPECT_EQ(client.error().errorNumber, ENOENT);
}

TEST_F(UnixSocketTest, ConnectToASocketFileNobodyListensOnFailsWithECONNREFUSED) {
    ASSERT_TRUE(UnixSocket::listen(socketPath).has_value());  // closed at once, file left behind

    const auto client = UnixSocket::connect(socketPath);

    ASSERT_FALSE(client.has_value());
    EXPECT_EQ(client.error().kind, Kind::connectFailed);
    EXPECT_EQ(client.error().errorNumber, ECONNREFUSED);
}

timeval sendTimeout(int fd) {
    timeval tv{};
    socklen_t size = sizeof tv;
    ::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, &size);
    return tv;
}

TEST_F(UnixSocketTest, ConnectWithATimeoutBoundsSendsAndWithoutOneLeavesThemUnbounded) {
    const auto listener = UnixSocket::listen(socketPath);
    ASSERT_TRUE(listener.has_value());

    const auto bounded = UnixSocket::connect(socketPath, std::chrono::milliseconds(1500));
    const auto unbounded = UnixSocket::connect(socketPath);

    ASSERT_TRUE(bounded.has_value());
    ASSERT_TRUE(unbounded.has_value());
    const auto tv = sendTimeout(bounded->get());
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec, 500000);
    const auto none = sendTimeout(unbounded->get());
    EXPECT_EQ(none.tv_sec, 0);
    EXPECT_EQ(none.tv_usec, 0);
}

// --- listening ---

TEST_F(UnixSocketTest, ListenReplacesAStaleSocketFile) {
    ASSERT_TRUE(UnixSocket::listen(socketPath).has_value());  // closed at once, file left behind

    const auto listener = UnixSocket::listen(socketPath);

    ASSERT_TRUE(listener.has_value()) << std::strerror(listener.error().errorNumber);
    EXPECT_TRUE(UnixSocket::connect(socketPath).has_value());
}

TEST_F(UnixSocketTest, ListenLeavesAFileThatIsNotASocketAlone) {
    std::ofstream(socketPath) << "keep me";

    const auto listener = UnixSocket::listen(socketPath);

    ASSERT_FALSE(listener.has_value());
    EXPECT_EQ(listener.error().errorNumber, EADDRINUSE);
    std::string content;
    std::getline(std::ifstream(socketPath), content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(UnixSocketTest, ListenerAtAPathOfTheLongestLengthAcceptsAConnection) {
    const auto path = pathOfLength(UnixSocket::kMaxPathLength);
    ASSERT_FALSE(path.empty()) << "temporary folder path too long for this test";
    const auto listener = UnixSocket::listen(path);
    ASSERT_TRUE(listener.has_value()) << std::strerror(listener.error().errorNumber);

    const auto client = UnixSocket::connect(path);
    ASSERT_TRUE(client.has_value()) << std::strerror(client.error().errorNumber);
    UniqueFd server(::accept4(listener->get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(server.valid());

    EXPECT_EQ(UnixSocket::sendOnce(client->get(), "ping", 4), 4);
    char received[4] = {};
    EXPECT_EQ(::recv(server.get(), received, sizeof received, MSG_WAITALL), 4);
    EXPECT_EQ(std::string(received, 4), "ping");
}

// --- sending ---

// Puts SIGPIPE at its default disposition, unblocked, for the scope: if a send raised it, the
// test process would die.
class DefaultSigpipe {
public:
    DefaultSigpipe() {
        struct sigaction defaults{};
        defaults.sa_handler = SIG_DFL;
        ::sigemptyset(&defaults.sa_mask);
        ::sigaction(SIGPIPE, &defaults, &saved_);
        sigset_t pipeOnly;
        ::sigemptyset(&pipeOnly);
        ::sigaddset(&pipeOnly, SIGPIPE);
        ::pthread_sigmask(SIG_UNBLOCK, &pipeOnly, &savedMask_);
    }
    ~DefaultSigpipe() {
        ::pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
        ::sigaction(SIGPIPE, &saved_, nullptr);
    }
    DefaultSigpipe(const DefaultSigpipe&) = delete;
    DefaultSigpipe& operator=(const DefaultSigpipe&) = delete;

private:
    struct sigaction saved_{};
    sigset_t savedMask_{};
};

TEST_F(UnixSocketTest, SendOnceToAPeerThatClosedFailsWithEPIPEWithoutRaisingSIGPIPE) {
    const auto listener = UnixSocket::listen(socketPath);
    ASSERT_TRUE(listener.has_value());
    const auto client = UnixSocket::connect(socketPath);
    ASSERT_TRUE(client.has_value());
    UniqueFd server(::accept4(listener->get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(server.valid());
    server.reset();
    DefaultSigpipe defaultSigpipe;

    errno = 0;
    const auto sent = UnixSocket::sendOnce(client->get(), "x", 1);
    const int error = errno;

    EXPECT_EQ(sent, -1);
    EXPECT_EQ(error, EPIPE);
}

}  // namespace
}  // namespace tw
