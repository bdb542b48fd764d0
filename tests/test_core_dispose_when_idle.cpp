// Disposal once no handler runs: what is handed over while a handler runs
// goes from the event loop after the last one has left, also when the owner
// itself went inside a handler, and at the latest when the loop stops.
#include "base/DisposeWhenIdle.h"
#include "TestEnvironment.h"
#include <QProcess>
#include <gtest/gtest.h>
#include <memory>

namespace {

using TestEnvironment::DeliverPosted;

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
