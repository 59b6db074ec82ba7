#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/UniqueFd.h"
#include "base/UnixSocket.h"
#include "shared/LineReader.h"

namespace tw {
namespace {

using End = LineReader::End;

class LineReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        reading.reset(ends[0]);
        writing.reset(ends[1]);
    }

    void write(std::string_view bytes) {
        ASSERT_EQ(::write(writing.get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    void finish() { writing.reset(); }

    UniqueFd reading;
    UniqueFd writing;
};

TEST_F(LineReaderTest, SplitsLinesHoweverTheBytesArrive) {
    LineReader reader(reading.get(), 100);
    write("first\nsec");
    EXPECT_EQ(reader.next().value(), "first");
    std::thread later([&] { write("ond\n\nthird\n"); });
    EXPECT_EQ(reader.next().value(), "second");
    later.join();
    EXPECT_EQ(reader.next().value(), "");
    EXPECT_EQ(reader.next().value(), "third");
}

TEST_F(LineReaderTest, KeepsACarriageReturnAsPartOfTheLine) {
    LineReader reader(reading.get(), 100);
    write("line\r\n");
    EXPECT_EQ(reader.next().value(), "line\r");
}

TEST_F(LineReaderTest, ReportsAnOrderlyEndAfterTheLastLine) {
    LineReader reader(reading.get(), 100);
    write("only\n");
    finish();
    EXPECT_EQ(reader.next().value(), "only");
    EXPECT_EQ(reader.next().error(), End::closed);
}

TEST_F(LineReaderTest, ReportsBytesLeftWithoutAnLfAsUnterminated) {
    LineReader reader(reading.get(), 100);
    write("complete\npartial");
    finish();
    EXPECT_EQ(reader.next().value(), "complete");
    EXPECT_EQ(reader.next().error(), End::unterminated);
}

TEST_F(LineReaderTest, AcceptsALineAtTheCapAndRefusesOneByteMore) {
    LineReader reader(reading.get(), 8);
    write("12345678\n123456789\n");
    EXPECT_EQ(reader.next().value(), "12345678");
    EXPECT_EQ(reader.next().error(), End::tooLong);
}

// A peer that never sends an LF must not make the reader hold everything it sends.
TEST_F(LineReaderTest, GivesUpOnALongLineBeforeItEnds) {
    LineReader reader(reading.get(), 1000);
    std::thread flood([&] {
        const std::string chunk(4096, 'x');
        for (int i = 0;
             i < 64 && UnixSocket::sendOnce(writing.get(), chunk.data(), chunk.size()) > 0; ++i) {
        }
    });
    EXPECT_EQ(reader.next().error(), End::tooLong);
    reading.reset();  // lets a blocked writer fail
    flood.join();
}

TEST_F(LineReaderTest, ReportsAFailedRead) {
    const timeval timeout{0, 1000};
    ASSERT_EQ(::setsockopt(reading.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout), 0);
    LineReader reader(reading.get(), 100);
    EXPECT_EQ(reader.next().error(), End::readFailed);
}

// A peer sending a byte now and then, each well within any per-read limit, still runs out of
// time for the whole line; the line after it gets a deadline of its own.
TEST_F(LineReaderTest, EndsALineThatDoesNotArriveWholeByItsDeadline) {
    LineReader reader(reading.get(), 100);
    std::thread trickle([this] {
        for (int index = 0; index < 40; ++index) {
            if (UnixSocket::sendOnce(writing.get(), "x", 1) != 1) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        UnixSocket::sendOnce(writing.get(), "\nnext\n", 6);
    });
    const auto line = reader.next(std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    ASSERT_FALSE(line.has_value());
    EXPECT_EQ(line.error(), End::readFailed);
    trickle.join();
    EXPECT_EQ(reader.next(std::chrono::steady_clock::now() + std::chrono::seconds(5)).value_or(""),
              std::string(40, 'x'));
}

}  // namespace
}  // namespace tw
