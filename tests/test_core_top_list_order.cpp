// When a top list's new order reaches the screen: at once the first time,
// after 30 s of the last re-sort otherwise, in place meanwhile; frozen, Sort
// Now, and the symbols of the pending order not on screen.
#include "TopListEntries.h"
#include "Zembra/TopListOrder.h"

#include <gtest/gtest.h>

namespace {

using TopListEntries::Entry;
using TopListEntries::List;

QByteArray Shown(const TTopListOrder& order)
{
    QByteArrayList symbols;
    for (const auto& e : order.Displayed())
        symbols << e.symbol;
    return symbols.join(' ');
}

class TopListOrderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Order.SetClock([this] { return Now; });
    }
    TTopListOrder Order;
    qint64 Now = 1000000;
};

TEST_F(TopListOrderTest, FirstListShowsAtOnceAndANewOrderWithin30SecondsOnlyUpdatesInPlace)
{
    EXPECT_EQ(Order.SetEntries({Entry("BBB", 1), Entry("CCC", 1)}), TTopListOrder::Reorder);
    EXPECT_EQ(Shown(Order), "BBB CCC");
    EXPECT_FALSE(Order.HavePending());

    Now += 10000;
    EXPECT_EQ(Order.SetEntries({Entry("AAA", 2), Entry("BBB", 3)}), TTopListOrder::Repaint);
    EXPECT_EQ(Shown(Order), "BBB CCC");
    EXPECT_EQ(Order.Displayed()[0].volRate, 3); // BBB takes its new values
    EXPECT_EQ(Order.Displayed()[1].volRate, 1); // CCC keeps its old ones
    EXPECT_TRUE(Order.HavePending());
    EXPECT_EQ(Order.MissingCount(), 1);
    EXPECT_EQ(Order.MissingText(), QStringLiteral("AAA"));

    // The order on screen is 10 s old: due only once 30 s have fully passed.
    Now += 20000;
    EXPECT_EQ(Order.CheckSort(), TTopListOrder::Unchanged);
    Now += 1;
    EXPECT_EQ(Order.CheckSort(), TTopListOrder::Reorder);
    EXPECT_EQ(Shown(Order), "AAA BBB");
    EXPECT_FALSE(Order.HavePending());
    EXPECT_EQ(Order.MissingCount(), 0);
    EXPECT_EQ(Order.MissingText(), QString());
}

TEST_F(TopListOrderTest, AnUnchangedOrderShowsAtOnceWithoutRestartingTheSortClock)
{
    Order.SetEntries(List({"AAA", "BBB"}));
    Now += 20000;
    EXPECT_EQ(Order.SetEntries({Entry("AAA", 2), Entry("BBB", 2)}), TTopListOrder::Reorder);
    EXPECT_FALSE(Order.HavePending());
    EXPECT_EQ(Order.Displayed()[1].volRate, 2);
    // 31 s after the last re-sort a new order shows at once, although an
    // unchanged list arrived 11 s ago.
    Now += 11000;
    Order.SetEntries(List({"BBB", "AAA"}));
    EXPECT_EQ(Shown(Order), "BBB AAA");
}

TEST_F(TopListOrderTest, IgnoringTheSortTimerShowsEveryNewOrderUnlessFrozen)
{
    Order.SetIgnoreSortTimer(true);
    Order.SetEntries(List({"AAA", "BBB"}));
    Order.SetEntries(List({"BBB", "AAA"}));
    EXPECT_EQ(Shown(Order), "BBB AAA");
    Order.SetEntries(List({"CCC"}));
    EXPECT_EQ(Shown(Order), "CCC");
    EXPECT_EQ(Order.SetFrozen(true), TTopListOrder::Repaint);
    Order.SetEntries(List({"DDD", "CCC"}));
    EXPECT_EQ(Shown(Order), "CCC");
    EXPECT_TRUE(Order.HavePending());
}

TEST_F(TopListOrderTest, FrozenListsUpdateInPlaceSortNowStillWorksAndUnfreezingResorts)
{
    Order.SetEntries(List({"AAA", "BBB"}));
    EXPECT_EQ(Order.SetFrozen(true), TTopListOrder::Repaint);
    EXPECT_EQ(Order.SetFrozen(true), TTopListOrder::Unchanged);
    Now += 60000;
    Order.SetEntries({Entry("BBB", 4), Entry("CCC", 4)});
    EXPECT_EQ(Order.CheckSort(), TTopListOrder::Unchanged);
    EXPECT_EQ(Shown(Order), "AAA BBB");
    EXPECT_EQ(Order.Displayed()[1].volRate, 4);

    EXPECT_EQ(Order.SortNow(), TTopListOrder::Reorder);
    EXPECT_EQ(Shown(Order), "BBB CCC");
    EXPECT_EQ(Order.SortNow(), TTopListOrder::Unchanged) << "nothing pending";

    Order.SetEntries(List({"CCC", "BBB"}));
    EXPECT_TRUE(Order.HavePending());
    // Inside 30 s of Sort Now, yet unfreezing re-sorts.
    EXPECT_EQ(Order.SetFrozen(false), TTopListOrder::Reorder);
    EXPECT_EQ(Shown(Order), "CCC BBB");
}

TEST_F(TopListOrderTest, MissingSymbolsAreNamedUpToFiveThenCounted)
{
    Order.SetEntries(List({"ZZZ"}));
    Order.SetEntries(List({"AAA", "BBB", "CCC", "ZZZ", "DDD", "EEE", "FFF", "GGG", "HHH"}));
    EXPECT_EQ(Order.MissingCount(), 8);
    EXPECT_EQ(Order.MissingText(), QStringLiteral("AAA, BBB, CCC, DDD, EEE and 3 more"));
    Order.SetEntries(List({"AAA", "BBB", "CCC", "DDD", "EEE"}));
    EXPECT_EQ(Order.MissingText(), QStringLiteral("AAA, BBB, CCC, DDD, EEE"));

    // Letter case does not make a symbol missing; the new row replaces the old whole.
    Order.SetEntries({Entry("zzz", 2), Entry("Q", 1)});
    EXPECT_EQ(Order.MissingText(), QStringLiteral("Q"));
    EXPECT_EQ(Shown(Order), "zzz");
    EXPECT_EQ(Order.Displayed()[0].volRate, 2);
    Order.SetEntries({Entry("ZzZ", 3), Entry("Q", 1)});
    EXPECT_EQ(Shown(Order), "ZzZ");
}

TEST_F(TopListOrderTest, ARowThatLeftTheListKeepsItsValuesAndTheSenderCannotChangeTheRows)
{
    TQuentTopListEntries rows{Entry("AAA", 1), Entry("BBB", 1), Entry("aaa", 5)};
    Order.SetEntries(rows);
    rows[0].volRate = 9; // the window's own list changes afterwards
    EXPECT_EQ(Order.Displayed()[0].volRate, 1);

    Now += 1000;
    Order.SetEntries({Entry("BBB", 2), Entry("AAA", 3), Entry("AAA", 4)});
    // Duplicates land on the first row of their symbol, the later one last.
    EXPECT_EQ(Order.Displayed()[0].volRate, 4);
    EXPECT_EQ(Order.Displayed()[1].volRate, 2);
    EXPECT_EQ(Order.Displayed()[2].volRate, 5);
    EXPECT_EQ(Order.MissingCount(), 0);
    EXPECT_TRUE(Order.HavePending());
}

} // namespace
