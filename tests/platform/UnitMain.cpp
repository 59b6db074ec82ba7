#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

// The parts of the VPN layer and the provider that need no NetworkManager. Qt wants an
// application for its D-Bus types and processes; no event loop runs.
int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
