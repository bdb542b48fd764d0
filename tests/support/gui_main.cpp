// Test main for widget code: an offscreen QApplication.
#include "TestEnvironment.h"
#include "base/DebugLog.h"
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never the user's session bus (the main window asks the keyring there):
    // none at all, unless a test starts a bus of its own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavisk-test-bus");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    TestEnvironment::Install();
    return RUN_ALL_TESTS();
}
