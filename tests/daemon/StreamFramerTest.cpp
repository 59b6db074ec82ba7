#include "app/daemon/StreamFramer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tw {
namespace {

using ::testing::ElementsAre;

constexpr std::string_view kStream = "HTTP/1.1 200 OK\r\nX: y\r\n\r\none\n\ntwo\r\n\r\nthree\npartial";

std::vector<std::string> framed(const std::vector<std::string_view>& chunks, StreamFramer& framer) {
    std::vector<std::string> lines;
    for (auto chunk : chunks) {
        framer.append(chunk.data(), chunk.size(), [&](PaddedLine line) { lines.emplace_back(line.text); });
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

TEST(StreamFramer, HandsOverALongLineInItsBufferAndFramesWhatFollowsAsBefore) {
    // From three bytes on a taken line keeps the buffer it lies in, padding included, and the
    // framer goes on with a copy of the bytes after it; shorter lines are copied.
    for (std::size_t split = 0; split <= kStream.size(); ++split) {
        StreamFramer framer(1024, 3);
        std::vector<std::string> taken;
        for (const auto chunk : {kStream.substr(0, split), kStream.substr(split)}) {
            framer.append(chunk.data(), chunk.size(), [&](PaddedLine line) {
                const auto owned = framer.takeLine(line);
                EXPECT_GE(owned.buffer.size() - owned.offset - owned.length, PaddedLine::kPadding);
                taken.emplace_back(owned.text());
            });
        }
        ASSERT_THAT(taken, ElementsAre("one", "two\r", "\r", "three")) << split;
        EXPECT_EQ(framer.pendingBytes(), std::string_view("partial").size());
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

TEST(StreamFramer, GivesALargeBufferBackAndKeepsWhatIsPending) {
    StreamFramer framer(8 * 1024 * 1024);
    const std::string large(2 * 1024 * 1024, 'x');
    EXPECT_EQ(framed({"HTTP/1.1 200 OK\r\n\r\n", large, "\npar"}, framer).size(), 1u);
    ASSERT_TRUE(framer.holdsLargeBuffer());
    framer.releaseLargeBuffer();
    EXPECT_FALSE(framer.holdsLargeBuffer());
    EXPECT_EQ(framer.pendingBytes(), 3u);
    EXPECT_THAT(framed({"tial\n"}, framer), ElementsAre("partial"));
}

TEST(StreamFramer, LeavesEveryLineItsPaddingInTheSameBuffer) {
    // The decoder parses each line where it lies and may read the padding past its end: the
    // sanitizer build catches a line handed out without it. Lines end a read exactly, at every
    // size around the padding and past a growth of the buffer.
    for (const std::size_t size : {1u, 63u, 64u, 65u, 100'000u}) {
        StreamFramer framer(1 << 20);
        std::string stream = "H\r\n\r\n" + std::string(size, 'x') + "\n";
        std::string after;
        framer.append(stream.data(), stream.size(), [&](PaddedLine line) {
            after.assign(line.text.data() + line.text.size(), PaddedLine::kPadding);
        });
        ASSERT_EQ(after.size(), PaddedLine::kPadding) << size;
        EXPECT_EQ(after[0], '\n') << size;
        EXPECT_EQ(framer.pendingBytes(), 0u) << size;
    }
}

}  // namespace
}  // namespace tw
