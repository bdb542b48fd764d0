#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "Shared/MiscDebugWindows.h"
#include "TestEnvironment.h"
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

using TestEnvironment::WaitFor;

namespace {

QString MemoText(const TMiscDebugWindow& window) { return window.Memo1->toPlainText(); }

} // namespace

class EFeedBroken : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TEST(DebugWindow, LinesWaitForTheTimerAndABurstArrivesInOneStep)
{
    TMiscDebugWindow window;
    EXPECT_EQ(window.windowTitle(), "Velmora Debug Window");
    EXPECT_EQ(window.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.Timer1->isActive());

    window.AddLine("first");
    window.AddLine("second");
    window.AddLine("third");
    // Nothing reaches the memo until the event loop delivers the timer.
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.FlushPending());
    EXPECT_TRUE(window.Timer1->isActive());
    EXPECT_EQ(window.Timer1->interval(), 250);
    EXPECT_EQ(window.PendingText(), "first\r\nsecond\r\nthird");
    EXPECT_TRUE(MemoText(window).isEmpty());

    ASSERT_TRUE(WaitFor([&] { return !MemoText(window).isEmpty(); }));
    EXPECT_EQ(MemoText(window), "first\nsecond\nthird");
    EXPECT_EQ(window.Memo1->blockCount(), 3);
    EXPECT_FALSE(window.FlushPending());
    EXPECT_FALSE(window.Timer1->isActive());
    EXPECT_TRUE(window.PendingText().isEmpty());

    // The next line re-arms the timer and lands below the earlier ones.
    window.AddLine("fourth");
    EXPECT_TRUE(window.Timer1->isActive());
    ASSERT_TRUE(WaitFor([&] { return window.Memo1->blockCount() == 4; }));
    EXPECT_EQ(MemoText(window), "first\nsecond\nthird\nfourth");
}

TEST(DebugWindow, ALineWithItsOwnLineBreaksBecomesSeveralMemoLines)
{
    TMiscDebugWindow window;
    window.AddLine("one\r\ntwo");
    ASSERT_TRUE(WaitFor([&] { return !window.FlushPending(); }));
    EXPECT_EQ(MemoText(window), "one\ntwo");
}

// A note (such as the configuration file in use) is kept without the window
// coming up: the window is the alarm for what went wrong.
TEST(DebugWindow, ANoteWaitsInTheLogWithoutShowingTheWindow)
{
    TMiscDebugWindow window;
    window.AddLine("Configuration file: /x/Braxo.ini", false);
    ASSERT_TRUE(WaitFor([&] { return !window.FlushPending(); }));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(MemoText(window), "Configuration file: /x/Braxo.ini");
}

TEST(DebugWindow, ClosingHidesAndMinimisesAndTheNextLineBringsItBack)
{
    TMiscDebugWindow window;
    window.AddLine("before close");
    ASSERT_TRUE(WaitFor([&] { return !window.FlushPending(); }));

    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.windowState() & Qt::WindowMinimized);

    window.AddLine("after close");
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.windowState() & Qt::WindowMinimized);
    ASSERT_TRUE(WaitFor([&] { return !window.FlushPending(); }));
    EXPECT_EQ(MemoText(window), "before close\nafter close");
}

// The window main gives the log: lines show it, notes wait in it unseen, and
// an exception is reported exactly; once the scope goes, the window hears
// nothing more.
TEST(DebugWindow, TheLogWritesToItsWindowWhileTheScopeLivesAndReportsExceptionsExactly)
{
    TMiscDebugWindow log;
    {
        const TDebugSinkScope sink = LogToWindow(log);
        DebugNote("a note");
        EXPECT_FALSE(log.isVisible());
        DebugOutput("plain line");
        EXPECT_TRUE(log.isVisible());
        try {
            throw EFeedBroken("socket said no");
        } catch (const std::exception& e) {
            ReportException(e, "TTalkWithServer.SendGoodResponse, (\"command\" --> \"ping\")");
        }
    }
    DebugOutput("after the scope");
    ASSERT_TRUE(WaitFor([&] { return !log.FlushPending(); }));
    EXPECT_EQ(MemoText(log), "a note\n"
                             "plain line\n"
                             "Class=EFeedBroken, Message=socket said no, "
                             "Location=TTalkWithServer.SendGoodResponse, (\"command\" --> \"ping\")");
}

// The test's main made the log: a second one while it lives is a programming error.
TEST(DebugWindow, ASecondLogIsRefused)
{
    try {
        const TDebugLog second;
        FAIL() << "a second log was made";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.Unit(), "DebugLog");
    }
    QStringList lines;
    const TDebugSinkScope sink([&](const QString& line) { lines << line; });
    DebugOutput("the first log still takes lines");
    EXPECT_EQ(lines, QStringList{"the first log still takes lines"});
}
