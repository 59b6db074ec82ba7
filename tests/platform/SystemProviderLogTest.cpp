#include "packettunnel/SystemProviderLog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

// Standard error sent to a file for the scope.
class CapturedStandardError {
public:
    explicit CapturedStandardError(const std::string& file) : saved_(::dup(STDERR_FILENO)) {
        std::fflush(stderr);
        std::FILE* target = std::fopen(file.c_str(), "w");
        ::dup2(::fileno(target), STDERR_FILENO);
        std::fclose(target);
    }
    ~CapturedStandardError() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    CapturedStandardError(const CapturedStandardError&) = delete;
    CapturedStandardError& operator=(const CapturedStandardError&) = delete;

private:
    int saved_;
};

TEST(ASystemProviderLog, WritesConsoleTextAsItIsNeverAsAFormat) {
    TempDir dir;
    {
        CapturedStandardError capture(dir.file("stderr"));
        SystemProviderLog log("com.example.Test", "Test");
        log.console("PacketTunnelProvider: Failed: 100% %s %n");
    }
    std::ostringstream written;
    written << std::ifstream(dir.file("stderr")).rdbuf();
    EXPECT_EQ(written.str(), "PacketTunnelProvider: Failed: 100% %s %n\n");
}

}  // namespace
}  // namespace tw
