// The widget-free rules of the alert windows: reading alert texts, value
// conversions, the Bollinger order, the newest-first list and the symbol sets.
#include "CollidingFieldNames.h"
#include "Shared/HashTables.h"
#include "Zembra/AlertParsing.h"
#include "Zembra/ExcludeList.h"
#include "Shared/NewestFirstList.h"

#include <QList>
#include <QVector>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

QByteArray FieldLineOf(const QByteArray& data, const QByteArray& subscription)
{
    QByteArray line("untouched");
    EXPECT_TRUE(CutFieldLine(data, subscription, &line)) << data.constData();
    return line;
}

TEST(AlertText, OnlyTheExactCategoryIsAccepted)
{
    QByteArray line("untouched");
    EXPECT_FALSE(CutFieldLine("other\r\nsymbol=A", "strike", &line));
    EXPECT_FALSE(CutFieldLine("Strike\r\nsymbol=A", "strike", &line));
    EXPECT_FALSE(CutFieldLine("strike \r\nsymbol=A", "strike", &line));
    EXPECT_FALSE(CutFieldLine("strike\nsymbol=A", "strike", &line));
    EXPECT_EQ(line, "untouched");
}

TEST(AlertText, FieldLineEndsAtTheNextLineBreak)
{
    EXPECT_EQ(FieldLineOf("strike\r\nsymbol=A&last=1", "strike"), "symbol=A&last=1");
    EXPECT_EQ(FieldLineOf("strike\r\nsymbol=A\r\nsymbol=B\r\n", "strike"), "symbol=A");
    EXPECT_EQ(FieldLineOf("strike\r\n", "strike"), "");
    // Without a line break the whole text is the first line.
    EXPECT_EQ(FieldLineOf("strike", "strike"), "");
    // An empty subscription matches a text that starts with a line break.
    EXPECT_EQ(FieldLineOf("\r\na=1", ""), "a=1");
    // A bare LF is part of the field line, not a break.
    EXPECT_EQ(FieldLineOf("s\r\na=1\nb=2", "s"), "a=1\nb=2");
}

// Pieces of exactly the given size joined by "&".
QByteArray Pieces(qsizetype count, qsizetype bytes)
{
    QByteArrayList pieces;
    for (qsizetype i = 0; i < count; ++i)
        pieces << "k=" + QByteArray(bytes - 2, 'v');
    return pieces.join('&');
}

TEST(AlertLimits, AnAlertHoldsAtMost2048FieldsOfAtMost1024Bytes)
{
    EXPECT_TRUE(AlertWithinLimits(""));
    EXPECT_TRUE(AlertWithinLimits(Pieces(MaxAlertFields, MaxAlertFieldBytes)));
    EXPECT_EQ(Pieces(MaxAlertFields, MaxAlertFieldBytes).size(), MaxAlertFieldLineBytes);
    EXPECT_FALSE(AlertWithinLimits(Pieces(MaxAlertFields + 1, 3)));
    EXPECT_FALSE(AlertWithinLimits(QByteArray(MaxAlertFields, '&'))) << "skipped pieces count too";
    EXPECT_FALSE(AlertWithinLimits("a=1&" + Pieces(1, MaxAlertFieldBytes + 1) + "&b=2"));
    // The frame that once froze the program for minutes.
    const QByteArrayList colliding = CollidingFieldNames::Names(45000);
    for (const QByteArray& name : colliding.mid(0, 50))
        ASSERT_EQ(HashString(name), HashString(colliding[0])) << name.constData();
    EXPECT_FALSE(AlertWithinLimits(colliding.join("=1&")));
}

TEST(AlertLimits, AFieldLineIsReadNoFurtherThanTheLimitsNeed)
{
    // A frame far longer than any alert: the line is cut one byte past the longest line allowed.
    const QByteArray huge = "strike\r\n" + QByteArray(8 << 20, 'x');
    EXPECT_EQ(FieldLineOf(huge, "strike").size(), MaxAlertFieldLineBytes + 1);
    EXPECT_FALSE(AlertWithinLimits(FieldLineOf(huge, "strike")));
    // The longest line allowed is whole, whatever follows it.
    const QByteArray longest = Pieces(MaxAlertFields, MaxAlertFieldBytes);
    EXPECT_EQ(FieldLineOf("strike\r\n" + longest + "\r\n" + huge, "strike"), longest);
    // A subscription that ends in CR is still matched line by line.
    QByteArray line;
    EXPECT_FALSE(CutFieldLine("s\r\na=1", "s\r", &line));
    EXPECT_EQ(FieldLineOf("s\r\r\na=1", "s\r"), "a=1");
    EXPECT_FALSE(CutFieldLine("s\r\na=1", "s\r\na", &line));
}

QList<QPair<QByteArray, QByteArray>> FieldsOf(const QByteArray& line)
{
    QList<QPair<QByteArray, QByteArray>> fields;
    ForEachAlertField(line, [&](const QByteArray& name, const QByteArray& value) {
        fields.append({name, value});
    });
    return fields;
}

TEST(AlertFields, PiecesWithoutEqualsAreSkippedAndBothSidesAreDecoded)
{
    using F = QList<QPair<QByteArray, QByteArray>>;
    EXPECT_EQ(FieldsOf("a=1&b&c=%41"), (F{{"a", "1"}, {"c", "A"}}));
    EXPECT_EQ(FieldsOf(""), F{});
    EXPECT_EQ(FieldsOf("&&"), F{});
    EXPECT_EQ(FieldsOf("=v&k=&%61%3D=x=y"), (F{{"", "v"}, {"k", ""}, {"a=", "x=y"}}));
    // "+" stays "+", and a decoded "&" does not split.
    EXPECT_EQ(FieldsOf("s=A+B%26C"), (F{{"s", "A+B&C"}}));
}

TEST(AlertFields, TableKeepsTheLastValueOfARepeatedName)
{
    tHashTable fields(0);
    ReadAlertFields("x=1&x=2&a=1&b&c=%41", fields);
    EXPECT_EQ(fields.Lookup("x"), "2");
    EXPECT_EQ(fields.Lookup("a"), "1");
    EXPECT_EQ(fields.Lookup("c"), "A");
    EXPECT_FALSE(fields.ContainsKey("b"));
    EXPECT_EQ(fields.Count(), 3);
}

TEST(AlertValues, NumbersUseAPointAndEverythingElseIsNaN)
{
    EXPECT_DOUBLE_EQ(ReadAlertNumber("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(ReadAlertNumber("-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(ReadAlertNumber("1e3"), 1000.0);
    for (const char* bad : {"", "abc", "1,5", "1.5x", "inf", "nan", "1e999"})
        EXPECT_TRUE(std::isnan(ReadAlertNumber(bad))) << bad;
    EXPECT_EQ(ReadAlertNumberOrZero(""), 0.0);
    EXPECT_EQ(ReadAlertNumberOrZero("x"), 0.0);
    EXPECT_EQ(ReadAlertNumberOrZero("8"), 8.0);
}

TEST(AlertValues, CountsAreDecimalIntegersOrZero)
{
    EXPECT_EQ(ReadAlertCount("42"), 42);
    EXPECT_EQ(ReadAlertCount("-7"), -7);
    for (const char* bad : {"", "1.5", "x", "0x10", "99999999999"})
        EXPECT_EQ(ReadAlertCount(bad), 0) << bad;
}

TEST(AlertValues, NumberedKeysAppendTheDecimalRowNumber)
{
    EXPECT_EQ(NumberedKey("symbol", 0), "symbol0");
    EXPECT_EQ(NumberedKey("percent_vol", 12), "percent_vol12");
}

TEST(AlertSettings, ColourIsDecimalOrDollarHexElseWhite)
{
    EXPECT_EQ(ReadColorSetting(""), 0xFFFFFFu);
    EXPECT_EQ(ReadColorSetting("255"), 255u);
    EXPECT_EQ(ReadColorSetting("$00FFFF"), 0x00FFFFu);
    EXPECT_EQ(ReadColorSetting("$80ff80"), 0x80FF80u);
    EXPECT_EQ(ReadColorSetting("-1"), 0xFFFFFFFFu);
    for (const char* bad : {"red", "$", "$-1", "0x10", "12abc", "99999999999"})
        EXPECT_EQ(ReadColorSetting(bad), 0xFFFFFFu) << bad;
}

TEST(AlertSettings, DisplayValuesAreExactAndUnknownMeansStrike)
{
    EXPECT_EQ(StyleFromDisplay("set"), asBollinger);
    EXPECT_EQ(StyleFromDisplay("symbol"), asSymbolOnly);
    EXPECT_EQ(StyleFromDisplay("pointslist"), asPointsList);
    EXPECT_EQ(StyleFromDisplay("quent"), asQuentFull);
    EXPECT_EQ(StyleFromDisplay("ferrik-simplelist"), asFerrik);
    EXPECT_EQ(StyleFromDisplay("dravel-simplelist"), asDravel);
    EXPECT_EQ(StyleFromDisplay("simplelist"), asSimpleList);
    for (const char* other : {"", "Set", "SIMPLELIST", "strike", " set"})
        EXPECT_EQ(StyleFromDisplay(other), asStrike) << other;
}

TEST(AlertSettings, ClearAndRowLimitApplyToStrikeSymbolAndSimpleListOnly)
{
    for (TAlertStyle s : {asStrike, asSymbolOnly, asSimpleList}) {
        EXPECT_TRUE(StyleHasClearCommand(s));
        EXPECT_TRUE(StyleIsBounded(s));
    }
    for (TAlertStyle s : {asBollinger, asPointsList, asFerrik, asQuentFull, asDravel}) {
        EXPECT_FALSE(StyleHasClearCommand(s));
        EXPECT_FALSE(StyleIsBounded(s));
    }
}

TEST(DravelChanges, PercentNeedsBothPricesAboveZero)
{
    EXPECT_DOUBLE_EQ(DravelPercentChange(10, 8), 25.0);
    EXPECT_DOUBLE_EQ(DravelDollarChange(10, 8), 2.0);
    EXPECT_EQ(DravelPercentChange(10, 0), 0.0);
    EXPECT_DOUBLE_EQ(DravelDollarChange(10, 0), 10.0);
    EXPECT_EQ(DravelPercentChange(NaN, 8), 0.0);
    EXPECT_TRUE(std::isnan(DravelDollarChange(NaN, 8)));
    EXPECT_EQ(DravelPercentChange(-1, 8), 0.0);
}

struct TBand {
    QByteArray symbol;
    double distFromBB;
};

// The window's "add": find the row, append it when absent, move it into place.
void AddBand(QVector<TBand>& rows, const QByteArray& symbol, double distance)
{
    qsizetype index = FindRowBySymbol(rows, symbol);
    if (index < 0) {
        rows.append({symbol, distance});
        index = rows.size() - 1;
    }
    BollingerPlace(rows, index, TBand{symbol, distance});
}

QByteArray Order(const QVector<TBand>& rows)
{
    QByteArray out;
    for (const TBand& row : rows)
        out += row.symbol + ' ';
    return out.trimmed();
}

TEST(BollingerOrder, LargestAbsoluteDistanceFirstThenSymbol)
{
    QVector<TBand> rows;
    AddBand(rows, "AAA", 2);
    AddBand(rows, "BBB", -3);
    AddBand(rows, "CCC", 2);
    EXPECT_EQ(Order(rows), "BBB AAA CCC");
    AddBand(rows, "AAA", 5);
    EXPECT_EQ(Order(rows), "AAA BBB CCC");
    EXPECT_EQ(rows[0].distFromBB, 5);
    // Moving down: BBB falls behind CCC.
    AddBand(rows, "BBB", 1);
    EXPECT_EQ(Order(rows), "AAA CCC BBB");
    // Same place: the row is overwritten where it stands.
    AddBand(rows, "CCC", -2.5);
    EXPECT_EQ(Order(rows), "AAA CCC BBB");
    EXPECT_EQ(rows[1].distFromBB, -2.5);
    // Equal distances order by bytes: "AAB" before "CCC", "ZZZ" after.
    AddBand(rows, "ZZZ", 2.5);
    AddBand(rows, "AAB", -2.5);
    EXPECT_EQ(Order(rows), "AAA AAB CCC ZZZ BBB");
    EXPECT_EQ(rows.size(), 5);
}

TEST(BollingerOrder, RowsWithoutADistanceLeadAndLeaveTheOrderIntact)
{
    QVector<TBand> rows;
    AddBand(rows, "AAA", 2);
    AddBand(rows, "BBB", 1);
    AddBand(rows, "NAN", NaN);
    EXPECT_EQ(Order(rows), "NAN AAA BBB");
    // A new row with a distance takes its place among the rows with one.
    AddBand(rows, "CCC", 0.5);
    AddBand(rows, "DDD", 5);
    EXPECT_EQ(Order(rows), "NAN DDD AAA BBB CCC");
    AddBand(rows, "NA2", NaN);
    EXPECT_EQ(Order(rows), "NA2 NAN DDD AAA BBB CCC");
    // Once it has a distance, a row moves to its place; the rest stay sorted.
    AddBand(rows, "NAN", 1.5);
    EXPECT_EQ(Order(rows), "NA2 DDD AAA NAN BBB CCC");
    // Losing its distance sends a row to the front.
    AddBand(rows, "BBB", NaN);
    EXPECT_EQ(Order(rows), "BBB NA2 DDD AAA NAN CCC");
}

TEST(BollingerOrder, FindIsExact)
{
    QVector<TBand> rows{{"AAA", 1}, {"aaa", 1}};
    EXPECT_EQ(FindRowBySymbol(rows, "aaa"), 1);
    EXPECT_EQ(FindRowBySymbol(rows, "Aaa"), -1);
}

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
        if (i >= 3)
            ASSERT_EQ(small.at(2), i - 2);
    }
    EXPECT_EQ(small.OldestFirst(), (std::vector<int>{4998, 4999, 5000}));
}

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
    ReplaceExcludeList({"abc", "", "ABC", " ", "XYZ"});
    EXPECT_EQ(ExcludeList().Items(), (QList<QByteArray>{" ", "abc", "XYZ"}));
    ReplaceExcludeList({});
    EXPECT_EQ(ExcludeList().Count(), 0);
}

} // namespace
