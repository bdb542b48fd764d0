// The newest-first list the strike and simple windows keep: index 0 is the
// newest, copies handed to a grid keep their rows, the limit drops the oldest.
#include "Shared/NewestFirstList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::vector<int> Items(const TNewestFirstList<int>& list)
{
    return std::vector<int>(list.begin(), list.end());
}

TEST(NewestFirstList, IndexZeroIsTheNewestAndCopiesKeepTheirRows)
{
    TNewestFirstList<int> list;
    EXPECT_TRUE(list.isEmpty());
    list.PushFront(1);
    list.PushFront(2);
    const TNewestFirstList<int> snapshot = list;
    list.PushFront(3);
    EXPECT_EQ(Items(list), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(list.at(0), 3);
    EXPECT_EQ(list[2], 1);
    EXPECT_EQ(Items(snapshot), (std::vector<int>{2, 1}));
    EXPECT_EQ(snapshot.size(), 2);

    // A copy that grows on its own takes its own rows.
    TNewestFirstList<int> fork = snapshot;
    fork.PushFront(9);
    EXPECT_EQ(Items(fork), (std::vector<int>{9, 2, 1}));
    EXPECT_EQ(Items(list), (std::vector<int>{3, 2, 1}));
    list.PushFront(4);
    EXPECT_EQ(Items(fork), (std::vector<int>{9, 2, 1}));
    EXPECT_EQ(Items(list), (std::vector<int>{4, 3, 2, 1}));

    list.clear();
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(Items(snapshot), (std::vector<int>{2, 1}));
    list.PushFront(5);
    EXPECT_EQ(Items(list), (std::vector<int>{5}));
}

TEST(NewestFirstList, LimitDropsTheOldestAndCompactingKeepsTheRows)
{
    TNewestFirstList<int> list;
    TNewestFirstList<int> seen;
    for (int i = 1; i <= 1001; ++i) {
        list.PushFront(i, 1000);
        if (i == 1000)
            seen = list;
    }
    EXPECT_EQ(list.size(), 1000);
    EXPECT_EQ(list.at(0), 1001);
    EXPECT_EQ(list.last(), 2);
    EXPECT_EQ(seen.size(), 1000);
    EXPECT_EQ(seen.last(), 1);

    // Many times the limit: the buffer is compacted, the content stays right.
    TNewestFirstList<int> small;
    for (int i = 1; i <= 5000; ++i) {
        small.PushFront(i, 3);
        ASSERT_EQ(small.at(0), i);
        ASSERT_EQ(small.size(), std::min(i, 3));
        if (i >= 3) {
            ASSERT_EQ(small.at(2), i - 2);
        }
    }
    EXPECT_EQ(small.OldestFirst(), (std::vector<int>{4998, 4999, 5000}));
}

} // namespace
