// The helper's systemd units as systemd itself reads them, in a copy that runs the built helper.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/helper/RunningHelper.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

TEST(PackagingUnitsTest, PassSystemdsVerification) {
    if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    const TempDir dir;
    const std::string units = TW_UNITS_TO_VERIFY;
    const std::string output = dir.file("output");
    const std::string command = "systemd-analyze verify " + units + "/tarnwick-helper.socket " +
                                units + "/tarnwick-helper.service >" + output + " 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << RunningHelper::contents(output);
    EXPECT_EQ(RunningHelper::contents(output), "");
}

}  // namespace
}  // namespace tw
