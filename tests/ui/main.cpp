#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>

// The views need a QApplication; they render offscreen unless the caller chose a platform.
int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
