// Test main for widget code: an offscreen QApplication.
#include "TestEnvironment.h"
#include "base/DebugLog.h"
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    TestEnvironment::Install();
    return RUN_ALL_TESTS();
}
