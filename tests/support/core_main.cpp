// Test main for the session code: a QCoreApplication, no widgets.
#include "TestEnvironment.h"
#include "base/DebugLog.h"
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    TestEnvironment::Install();
    return RUN_ALL_TESTS();
}
