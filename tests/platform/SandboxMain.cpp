#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstring>

#include "tests/platform/NmSandbox.h"
#include "tests/platform/SandboxSkip.h"

namespace {

bool isListing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return true;
    }
    return false;
}

}  // namespace

// Outside the sandbox the program re-executes itself inside it; where the sandbox cannot be made,
// every test skips with the reason. Listing the tests never starts a sandbox.
int main(int argc, char** argv) {
    if (!tw::NmSandbox::isInside() && !isListing(argc, argv)) {
        if (auto reason = tw::NmSandbox::unavailableReason()) {
            tw::SandboxSkip::set(*reason);
        } else {
            tw::NmSandbox::reexecInside(argc, argv);
            return 1;
        }
    }
    ::testing::InitGoogleMock(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
