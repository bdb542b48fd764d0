// The symbol sets behind the exclude list: letter case ignored, the first
// spelling kept, duplicates dropped, empty lines skipped.
#include "Zembra/ExcludeList.h"

#include <QList>
#include <gtest/gtest.h>

namespace {

TEST(SymbolSets, ExcludeRulesIgnoreCaseAndKeepTheFirstSpelling)
{
    TSymbolSet set(TSymbolSet::IgnoreCase);
    EXPECT_TRUE(set.Add("abc"));
    EXPECT_FALSE(set.Add("ABC"));
    EXPECT_TRUE(set.Add("XYZ"));
    EXPECT_TRUE(set.Add("mno"));
    EXPECT_EQ(set.Items(), (QList<QByteArray>{"abc", "mno", "XYZ"}));
    EXPECT_TRUE(set.Contains("AbC"));
    EXPECT_TRUE(set.Contains("xyz"));
    EXPECT_FALSE(set.Contains("ab"));
    EXPECT_TRUE(set.Remove("MNO"));
    EXPECT_FALSE(set.Remove("mno"));
    EXPECT_EQ(set.Count(), 2);

    TSymbolSet exact(TSymbolSet::ExactCase);
    EXPECT_TRUE(exact.Add("aaa"));
    EXPECT_TRUE(exact.Add("AAA"));
    EXPECT_FALSE(exact.Add("aaa"));
    EXPECT_EQ(exact.Items(), (QList<QByteArray>{"AAA", "aaa"}));
    EXPECT_FALSE(exact.Contains("Aaa"));
}

TEST(SymbolSets, ReplacingTheExcludeListSkipsOnlyEmptyLines)
{
    TSymbolSet excluded = NewExcludeList();
    ReplaceExcludeList(excluded, {"abc", "", "ABC", " ", "XYZ"});
    EXPECT_EQ(excluded.Items(), (QList<QByteArray>{" ", "abc", "XYZ"}));
    ReplaceExcludeList(excluded, {});
    EXPECT_EQ(excluded.Count(), 0);
}

} // namespace
