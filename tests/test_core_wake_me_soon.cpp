// The deferred wake-up: collapsing, re-requests from the handler, errors; and
// disposal once no handler runs, which waits for the loop the same way.
#include "base/DebugLog.h"
#include "base/DisposeWhenIdle.h"
#include "Shared/WakeMeSoon.h"
#include "TestEnvironment.h"
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>
#include <algorithm>
#include <stdexcept>

namespace {

// Delivers every posted event, including ones posted while delivering.
void DeliverPosted()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

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

struct TCountsItsEnd {
    int& Ended;
    ~TCountsItsEnd() { ++Ended; }
};

TEST(DisposeWhenIdleTest, WhatIsHandedOverWhileAHandlerRunsGoesFromTheLoopOnceNoneRuns)
{
    int ended = 0;
    const auto object = [&] { return std::unique_ptr<TCountsItsEnd>(new TCountsItsEnd{ended}); };
    {
        TDisposeWhenIdle lifetime;
        lifetime.Dispose(object());
        EXPECT_EQ(ended, 1) << "no handler runs: at once";
        {
            const TDisposeWhenIdle::THandlerScope outer(lifetime);
            {
                const TDisposeWhenIdle::THandlerScope inner(lifetime);
                lifetime.Dispose(object());
            }
            DeliverPosted();
            EXPECT_EQ(ended, 1) << "the outer handler still runs";
        }
        EXPECT_EQ(ended, 1) << "never from inside the handler that left last";
        {
            const TDisposeWhenIdle::THandlerScope again(lifetime);
            DeliverPosted();
            EXPECT_EQ(ended, 1) << "a handler entered again before the loop turned";
        }
        DeliverPosted();
        EXPECT_EQ(ended, 2);
    }
    // The owner destroyed from inside its own handler: the handler leaves
    // safely and what the owner held goes after it.
    auto owner = std::make_unique<TDisposeWhenIdle>();
    {
        const TDisposeWhenIdle::THandlerScope scope(*owner);
        owner->Dispose(object());
        owner.reset();
        EXPECT_TRUE(scope.OwnerGone());
        DeliverPosted();
        EXPECT_EQ(ended, 2);
    }
    DeliverPosted();
    EXPECT_EQ(ended, 3);
}

// The owner dies inside a handler that came in again after the disposal was
// posted: once that handler has left, the posted call frees what was handed
// over and the count itself (which only LeakSanitizer sees, at exit).
TEST(DisposeWhenIdleTest, OwnerGoneInAHandlerEnteredAfterThePostLeavesNothingBehind)
{
    int ended = 0;
    auto owner = std::make_unique<TDisposeWhenIdle>();
    {
        const TDisposeWhenIdle::THandlerScope first(*owner);
        owner->Dispose(std::unique_ptr<TCountsItsEnd>(new TCountsItsEnd{ended}));
    }
    {
        const TDisposeWhenIdle::THandlerScope again(*owner);
        owner.reset();
        EXPECT_TRUE(again.OwnerGone());
    }
    EXPECT_EQ(ended, 0) << "never from inside the handler that left last";
    DeliverPosted();
    EXPECT_EQ(ended, 1);
}

#ifdef TAVISK_DISPOSE_AT_QUIT_BIN
// A disposal still queued when the loop stops goes before exec returns; Qt
// would otherwise drop it under its posted-event lock inside the
// application's destructor, where the object's own destructor waits for that
// lock for ever.
TEST(DisposeWhenIdleTest, DisposalQueuedWhenTheLoopStopsGoesBeforeTheApplicationEnds)
{
    QProcess program;
    program.start(QStringLiteral(TAVISK_DISPOSE_AT_QUIT_BIN), {});
    ASSERT_TRUE(program.waitForStarted());
    const bool finished = program.waitForFinished(10000);
    if (!finished) {
        program.kill();
        program.waitForFinished();
    }
    ASSERT_TRUE(finished) << "the program hangs on its way out";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(program.readAllStandardOutput(), "disposed\nloop ended\n");
}
#endif

} // namespace
