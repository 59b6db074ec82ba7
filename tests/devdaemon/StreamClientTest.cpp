#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "devdaemon/StreamClient.h"

namespace tw {
namespace {

// What `client` writes after `lines` were pushed, up to the end of its connection.
std::string written(const std::vector<std::string>& lines) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    const UniqueFd ours(fds[0]), readers(fds[1]);
    auto client = StreamClient::open(ours.get());
    for (const auto& line : lines) client->push(line);
    std::thread writer([&] { client->run(); });
    std::string received;
    char chunk[65536];
    while (received.size() < lines.front().size() + 1) {
        const auto n = ::recv(readers.get(), chunk, sizeof chunk, 0);
        if (n <= 0) break;
        received.append(chunk, static_cast<std::size_t>(n));
    }
    ::shutdown(readers.get(), SHUT_RDWR);
    writer.join();
    return received;
}

TEST(StreamClient, SendsALineLargerThanTheBacklogLimitWholeButCutsOffAReaderThatFallsBehind) {
    const std::string map(StreamClient::kMaxBacklog + 1000, 'm');
    EXPECT_EQ(written({map}), map + "\n");
    // A second such line while the first still waits: the reader is cut off, nothing is sent.
    EXPECT_EQ(written({map, map}), "");
}

}  // namespace
}  // namespace tw
