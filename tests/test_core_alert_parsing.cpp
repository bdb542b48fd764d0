// Reading alert texts: the category line, the fields and their decoding, the
// conversions of values, the alert window's settings and the Dravel changes.
#include "Zembra/AlertParsing.h"
#include "Zembra/AlertRows.h"
#include "Zembra/AlertStyles.h"

#include <QList>
#include <QVector>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const TSymbolSet NoExclusions = NewExcludeList();

QByteArray FieldLineOf(const QByteArray& data, const QByteArray& subscription)
{
    QByteArrayView line("untouched");
    EXPECT_TRUE(CutFieldLine(data, subscription, &line)) << data.constData();
    return line.toByteArray();
}

TEST(AlertText, OnlyTheExactCategoryIsAccepted)
{
    QByteArrayView line("untouched");
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
    // However long the line, it is whole.
    const QByteArray huge(8 << 20, 'x');
    EXPECT_EQ(FieldLineOf("strike\r\n" + huge + "\r\nsymbol=B", "strike"), huge);
    // A subscription that ends in CR is still matched line by line.
    QByteArrayView line;
    EXPECT_FALSE(CutFieldLine("s\r\na=1", "s\r", &line));
    EXPECT_EQ(FieldLineOf("s\r\r\na=1", "s\r"), "a=1");
    EXPECT_FALSE(CutFieldLine("s\r\na=1", "s\r\na", &line));
}

QList<QPair<QByteArray, QByteArray>> FieldsOf(const QByteArray& line)
{
    QList<QPair<QByteArray, QByteArray>> fields;
    ForEachAlertField(line, [&](QByteArrayView name, QByteArrayView value) {
        fields.append({name.toByteArray(), value.toByteArray()});
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

// The plain forms the server sends take a quicker road than Qt's reading;
// every text still reads exactly as Qt reads it.
TEST(AlertValues, EveryTextReadsAsQtReadsIt)
{
    for (const char* text : {"12.5", "-0.25", "-0", "007.50", "0.30000000000000004", "123456789012345678901234567890",
                             "4.9e-324", "1e999", " 7.5 ", "+2", "1.", ".5", "-", "--1", "1-", "2147483647",
                             "2147483648", "-2147483648", "-2147483649", "00", "1 2"}) {
        bool ok = false;
        const double qtNumber = QByteArray(text).toDouble(&ok);
        const double number = ReadAlertNumber(text);
        if (ok && std::isfinite(qtNumber)) {
            EXPECT_EQ(number, qtNumber) << text;
        } else {
            EXPECT_TRUE(std::isnan(number)) << text;
        }
        const int qtCount = QByteArray(text).toInt(&ok);
        EXPECT_EQ(ReadAlertCount(text), ok ? qtCount : 0) << text;
    }
}

TEST(AlertValues, RecentTextsAreSharedAndNeverMistakenForOthers)
{
    TTextCache cache(64);
    const QByteArray first = cache.Text("09%3A30%3A01");
    EXPECT_EQ(first, "09:30:01");
    EXPECT_EQ(cache.Text("09%3A30%3A01").constData(), first.constData());
    EXPECT_EQ(cache.Text("09:30:01"), "09:30:01");
    EXPECT_EQ(cache.Text("A%41"), "AA");
    EXPECT_EQ(cache.Text("AA"), "AA");
    // Far more texts than the cache keeps: each still reads as itself.
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(cache.Text("S" + QByteArray::number(i)), "S" + QByteArray::number(i));
    EXPECT_EQ(cache.Text(QByteArray(40, 'x') + "%41"), QByteArray(40, 'x') + "A");
    EXPECT_EQ(cache.Text(""), "");
}

TEST(AlertValues, ARowNumberIsDecimalWithoutLeadingZerosAndBounded)
{
    EXPECT_EQ(ReadRowNumber("0", 10), 0);
    EXPECT_EQ(ReadRowNumber("9", 10), 9);
    for (const char* none : {"", "10", "01", "00", "1x", "-1", "99999999999999999999999"})
        EXPECT_EQ(ReadRowNumber(none, 10), -1) << none;
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

TEST(AlertSettings, EachDisplayValueChoosesItsStyleWithItsRulesAndRows)
{
    struct Case {
        const char* display;
        TAlertStyle style;
        bool clears; // and keeps at most MaxNewestFirstRows
    };
    const Case cases[] = {{"", asStrike, true},
                          {"set", asBollinger, false},
                          {"symbol", asSymbolOnly, true},
                          {"pointslist", asPointsList, false},
                          {"simplelist", asSimpleList, true},
                          {"ferrik-simplelist", asFerrik, false},
                          {"quent", asQuentFull, false},
                          {"dravel-simplelist", asDravel, false}};
    ASSERT_EQ(ListStyles().size(), std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.display);
        const TListStyle& style = StyleFromDisplay(c.display);
        EXPECT_EQ(style.Style, c.style);
        EXPECT_EQ(&ListStyleOf(c.style), &style);
        EXPECT_EQ(style.HasClearCommand, c.clears);
        EXPECT_EQ(style.RowLimit, c.clears ? MaxNewestFirstRows : 0);
        const auto rows = MakeAlertRows(c.style, {"c"});
        ASSERT_NE(rows, nullptr);
        EXPECT_EQ(&rows->ListStyle(), &style);
    }
    for (const char* other : {"Set", "SIMPLELIST", "strike", " set"})
        EXPECT_EQ(StyleFromDisplay(other).Style, asStrike) << other;
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

TEST(BollingerOrderHelpers, FindIsExact)
{
    struct TBand {
        QByteArray symbol;
    };
    QVector<TBand> rows{{"AAA"}, {"aaa"}};
    EXPECT_EQ(FindRowBySymbol(rows, "aaa"), 1);
    EXPECT_EQ(FindRowBySymbol(rows, "Aaa"), -1);
}

} // namespace
