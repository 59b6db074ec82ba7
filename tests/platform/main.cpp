#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

// The adapters need a Qt application for their event loop; the tests spin it themselves.
int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
