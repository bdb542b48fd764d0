// The deferred wake-up: collapsing, re-requests from the handler, errors.
#include "base/DebugLog.h"
#include "Shared/WakeMeSoon.h"
#include "TestEnvironment.h"
#include <QStringList>
#include <gtest/gtest.h>
#include <algorithm>
#include <stdexcept>

namespace {

using TestEnvironment::DeliverPosted;

class WakeMeSoonTest : public ::testing::Test {
protected:
    QStringList log;
    const TDebugSinkScope sink{[this](const QString& line) { log.append(line); }};
};

TEST_F(WakeMeSoonTest, RequestsBeforeTheLoopTurnsCollapseIntoOneCall)
{
    TWakeMeSoon wake;
    int calls = 0;
    wake.OnWakeUp = [&] { ++calls; };
    for (int i = 0; i < 10; ++i)
        wake.RequestWakeUp();
    EXPECT_TRUE(wake.Pending());
    EXPECT_EQ(calls, 0) << "nothing runs inside the request";
    DeliverPosted();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(wake.Pending());
}

TEST_F(WakeMeSoonTest, RequestFromTheHandlerGivesOneLaterCallNeverANestedOne)
{
    TWakeMeSoon wake;
    int calls = 0;
    int depth = 0;
    int deepest = 0;
    wake.OnWakeUp = [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        if (++calls == 1) {
            EXPECT_FALSE(wake.Pending()) << "pending is cleared before the handler runs";
            wake.RequestWakeUp();
            wake.RequestWakeUp();
        }
        --depth;
    };
    wake.RequestWakeUp();
    ASSERT_TRUE(TestEnvironment::WaitFor([&] { return calls >= 2 && !wake.Pending(); }));
    DeliverPosted();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(deepest, 1);
}

TEST_F(WakeMeSoonTest, HandlerErrorIsLoggedAndLaterWakeUpsStillRun)
{
    TWakeMeSoon wake;
    int calls = 0;
    wake.OnWakeUp = [&] {
        if (++calls == 1)
            throw std::runtime_error("handler broke");
    };
    wake.RequestWakeUp();
    DeliverPosted();
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith("Class=std::runtime_error, Message=handler broke, ")) << log[0].toStdString();
    EXPECT_TRUE(log[0].endsWith("Location=WakeMeSoon, TWakeMeSoon.WndPrc"));
    wake.RequestWakeUp();
    DeliverPosted();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(log.size(), 1);
}

TEST_F(WakeMeSoonTest, WithoutHandlerTheWakeUpIsConsumed)
{
    TWakeMeSoon wake;
    wake.RequestWakeUp();
    DeliverPosted();
    EXPECT_FALSE(wake.Pending());
    int calls = 0;
    wake.OnWakeUp = [&] { ++calls; };
    wake.RequestWakeUp();
    DeliverPosted();
    EXPECT_EQ(calls, 1) << "a consumed wake-up leaves the object ready for the next";
}

TEST_F(WakeMeSoonTest, DestroyedObjectNeverReceivesItsQueuedWakeUp)
{
    int calls = 0;
    {
        TWakeMeSoon wake;
        wake.OnWakeUp = [&] { ++calls; };
        wake.RequestWakeUp();
    }
    TWakeMeSoon other;
    int otherCalls = 0;
    other.OnWakeUp = [&] { ++otherCalls; };
    other.RequestWakeUp();
    DeliverPosted();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(otherCalls, 1);
}

} // namespace
