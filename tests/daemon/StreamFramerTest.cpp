#include "daemon/StreamFramer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tw {
namespace {

using ::testing::ElementsAre;

constexpr std::string_view kStream = "HTTP/1.1 200 OK\r\nX: y\r\n\r\none\n\ntwo\r\n\r\nthree\npartial";

std::vector<std::string> framed(const std::vector<std::string_view>& chunks, StreamFramer& framer) {
    std::vector<std::string> lines;
    for (auto chunk : chunks) {
        framer.append(chunk.data(), chunk.size(), [&](std::string_view line) { lines.emplace_back(line); });
    }
    return lines;
}

TEST(StreamFramer, YieldsTheSameLinesWhereverTheReadsSplitTheStream) {
    for (std::size_t first = 0; first <= kStream.size(); ++first) {
        for (std::size_t second = first; second <= kStream.size(); second += 3) {
            StreamFramer framer(1024);
            const auto lines = framed({kStream.substr(0, first), kStream.substr(first, second - first),
                                       kStream.substr(second)},
                                      framer);
            ASSERT_THAT(lines, ElementsAre("one", "two\r", "\r", "three")) << first << "/" << second;
            EXPECT_EQ(framer.pendingBytes(), std::string_view("partial").size());
        }
    }
}

TEST(StreamFramer, TakesNothingBeforeTheBlankLineAsALine) {
    StreamFramer framer(1024);
    EXPECT_TRUE(framed({"HTTP/1.1 200 OK\r\n", "not\na line\n"}, framer).empty());
    EXPECT_THAT(framed({"\r\n\r\nfirst\n"}, framer), ElementsAre("first"));
}

TEST(StreamFramer, ResetDropsTheFragmentOfThePreviousConnection) {
    StreamFramer framer(1024);
    framed({"H\r\n\r\n{\"frag"}, framer);
    framer.reset();
    EXPECT_THAT(framed({"H\r\n\r\n{}\n"}, framer), ElementsAre("{}"));
}

TEST(StreamFramer, RefusesMoreThanTheLimitWithoutADelimiter) {
    StreamFramer framer(8);
    const std::string header = "H\r\n\r\n";
    EXPECT_TRUE(framer.append(header.data(), header.size(), [](auto) {}));
    EXPECT_TRUE(framer.append("12345678", 8, [](auto) {}));
    EXPECT_FALSE(framer.append("9", 1, [](auto) {}));

    StreamFramer headerless(8);
    EXPECT_FALSE(headerless.append("HTTP/1.1 200", 12, [](auto) {}));
}

}  // namespace
}  // namespace tw
