#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "helper/DaemonLogFile.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

std::string contents(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class DaemonLogFileTest : public ::testing::Test {
protected:
    TempDir dir;
    const std::string log = dir.file("tarnwickd.log");
};

TEST_F(DaemonLogFileTest, CreatesAMissingFileWithMode0644) {
    const mode_t previous = ::umask(0);
    const auto fd = DaemonLogFile::open(log);
    ::umask(previous);
    ASSERT_TRUE(fd.has_value()) << fd.error();
    struct stat status {};
    ASSERT_EQ(::stat(log.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST_F(DaemonLogFileTest, AppendsAfterWhatTheFileHeldAndNeverTruncates) {
    std::ofstream(log) << "earlier run\n";
    const auto fd = DaemonLogFile::open(log);
    ASSERT_TRUE(fd.has_value()) << fd.error();
    ASSERT_EQ(::lseek(fd->get(), 0, SEEK_SET), 0);  // O_APPEND writes at the end regardless
    ASSERT_EQ(::write(fd->get(), "new\n", 4), 4);
    EXPECT_EQ(contents(log), "earlier run\nnew\n");
}

TEST_F(DaemonLogFileTest, HandsOverABlockingCloseOnExecDescriptor) {
    const auto fd = DaemonLogFile::open(log);
    ASSERT_TRUE(fd.has_value()) << fd.error();
    EXPECT_EQ(::fcntl(fd->get(), F_GETFL) & (O_NONBLOCK | O_APPEND), O_APPEND);
    EXPECT_TRUE(::fcntl(fd->get(), F_GETFD) & FD_CLOEXEC);
}

TEST_F(DaemonLogFileTest, RefusesASymlinkAndLeavesItsTargetAlone) {
    const std::string target = dir.file("target");
    std::ofstream(target) << "precious";
    ASSERT_EQ(::symlink(target.c_str(), log.c_str()), 0);
    EXPECT_FALSE(DaemonLogFile::open(log).has_value());
    EXPECT_EQ(contents(target), "precious");
}

TEST_F(DaemonLogFileTest, RefusesAFileWithASecondLink) {
    std::ofstream(log) << "";
    ASSERT_EQ(::link(log.c_str(), dir.file("other").c_str()), 0);
    EXPECT_THAT(DaemonLogFile::open(log).error(), HasSubstr("one link"));
}

// Opening a FIFO for writing would block until someone reads it.
TEST_F(DaemonLogFileTest, RefusesAFifoWithoutWaitingForAReader) {
    ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0);
    EXPECT_FALSE(DaemonLogFile::open(log).has_value());
}

TEST_F(DaemonLogFileTest, RefusesAFolder) {
    ASSERT_EQ(::mkdir(log.c_str(), 0755), 0);
    EXPECT_FALSE(DaemonLogFile::open(log).has_value());
}

TEST_F(DaemonLogFileTest, RefusesAFileOfAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
    std::ofstream(log) << "";
    ASSERT_EQ(::chown(log.c_str(), 65534, 65534), 0);
    EXPECT_THAT(DaemonLogFile::open(log).error(), HasSubstr("root-owned"));
}

TEST_F(DaemonLogFileTest, HeaderGivesTheTimeInUtc) {
    const auto moment = std::chrono::sys_days{std::chrono::year{2024} / 3 / 9} + 7h + 5min + 3s;
    EXPECT_EQ(DaemonLogFile::header(moment),
              "--- tarnwickd started at 2024-03-09 07:05:03 +0000 ---\n");
}

TEST_F(DaemonLogFileTest, WriteHeaderAppendsExactlyOneHeaderLine) {
    std::ofstream(log) << "earlier\n";
    const auto fd = DaemonLogFile::open(log);
    ASSERT_TRUE(fd.has_value()) << fd.error();
    const auto moment = std::chrono::sys_days{std::chrono::year{1999} / 12 / 31} + 23h + 59min;
    DaemonLogFile::writeHeader(fd->get(), moment);
    EXPECT_EQ(contents(log), "earlier\n--- tarnwickd started at 1999-12-31 23:59:00 +0000 ---\n");
}

}  // namespace
}  // namespace tw
