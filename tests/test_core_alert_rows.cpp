// The rows of every list style, widget-free: which alerts make or change a
// row, their caps, order and expiry, what is handed over; and seeded random
// runs of every style against the model of the rows that the fuzz target uses.
#include "AlertRowsModel.h"
#include "base/DebugLog.h"
#include "Zembra/AlertRows.h"
#include "Zembra/ExcludeList.h"

#include <QList>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// The order of the Bollinger rows, built through "add" alerts.
class BollingerOrderTest : public ::testing::Test {
protected:
    void Add(const QByteArray& symbol, const QByteArray& distance)
    {
        Rows->TakeAlert("c\r\naction=add&symbol=" + symbol + "&dist_from_bb=" + distance);
    }
    QByteArray Order() const
    {
        QByteArrayList symbols;
        for (const TBollingerEntry& row : Rows->Rows())
            symbols << row.symbol;
        return symbols.join(' ');
    }
    std::unique_ptr<TAlertRows> Made = MakeAlertRows(asBollinger, {"c"});
    TBollingerRows* Rows = dynamic_cast<TBollingerRows*>(Made.get());
};

TEST_F(BollingerOrderTest, LargestAbsoluteDistanceFirstThenSymbol)
{
    Add("AAA", "2");
    Add("BBB", "-3");
    Add("CCC", "2");
    EXPECT_EQ(Order(), "BBB AAA CCC");
    Add("AAA", "5");
    EXPECT_EQ(Order(), "AAA BBB CCC");
    EXPECT_EQ(Rows->Rows()[0].distFromBB, 5);
    // Moving down: BBB falls behind CCC.
    Add("BBB", "1");
    EXPECT_EQ(Order(), "AAA CCC BBB");
    // Same place: the row is replaced where it stands.
    Add("CCC", "-2.5");
    EXPECT_EQ(Order(), "AAA CCC BBB");
    EXPECT_EQ(Rows->Rows()[1].distFromBB, -2.5);
    // Equal distances order by bytes: "AAB" before "CCC", "ZZZ" after.
    Add("ZZZ", "2.5");
    Add("AAB", "-2.5");
    EXPECT_EQ(Order(), "AAA AAB CCC ZZZ BBB");
    // So does a row moved onto an equal distance.
    Add("BBB", "2.5");
    EXPECT_EQ(Order(), "AAA AAB BBB CCC ZZZ");
}

TEST_F(BollingerOrderTest, RowsWithoutADistanceLeadAndLeaveTheOrderIntact)
{
    Add("AAA", "2");
    Add("BBB", "1");
    Add("NAN", "x");
    EXPECT_EQ(Order(), "NAN AAA BBB");
    // A new row with a distance takes its place among the rows with one.
    Add("CCC", "0.5");
    Add("DDD", "5");
    EXPECT_EQ(Order(), "NAN DDD AAA BBB CCC");
    Add("NA2", "");
    EXPECT_EQ(Order(), "NA2 NAN DDD AAA BBB CCC");
    // Once it has a distance, a row moves to its place; the rest stay sorted.
    Add("NAN", "1.5");
    EXPECT_EQ(Order(), "NA2 DDD AAA NAN BBB CCC");
    // Losing its distance sends a row to the front, and it is still found there.
    Add("BBB", "-");
    EXPECT_EQ(Order(), "BBB NA2 DDD AAA NAN CCC");
    Add("BBB", "3");
    EXPECT_EQ(Order(), "NA2 DDD BBB AAA NAN CCC");
    EXPECT_TRUE(Rows->TakeAlert("c\r\naction=delete&symbol=NA2"));
    EXPECT_EQ(Order(), "DDD BBB AAA NAN CCC");
}

// ---- The rows of each list style

QByteArray Alert(const QByteArray& category, const QByteArray& fields) { return category + "\r\n" + fields; }

template <typename TRows>
std::unique_ptr<TRows> Make(TAlertStyle style, const QByteArray& extraKey = "sma_divergence",
                            TDayClock clock = DayNumberNow, const TSymbolSet* excluded = nullptr)
{
    std::unique_ptr<TAlertRows> rows = MakeAlertRows(style, {"c", extraKey, std::move(clock), excluded});
    EXPECT_EQ(rows->Style(), style);
    return std::unique_ptr<TRows>(dynamic_cast<TRows*>(rows.release()));
}

// Takes an alert of the rows' own category; whether it is to be handed over.
bool Take(TAlertRows& rows, const QByteArray& fields) { return rows.TakeAlert(Alert("c", fields)); }

TEST(AlertRows, OnlyTheExactCategoryMakesARow)
{
    const auto rows = Make<TVantorRows>(asStrike);
    for (const QByteArray& other : {Alert("other", "symbol=A"), Alert("C", "symbol=A"), Alert("c2", "symbol=A"),
                                    QByteArray("csymbol=A"), QByteArray("c\nsymbol=A")})
        EXPECT_FALSE(rows->TakeAlert(other)) << other.constData();
    EXPECT_TRUE(rows->Rows().isEmpty());
    EXPECT_TRUE(rows->TakeAlert("c"));
    EXPECT_EQ(rows->Rows().size(), 1);
}

TEST(AlertRows, FieldsAreDecodedSkippedAndTheLastOfANameWins)
{
    const auto rows = Make<TVantorRows>(asStrike);
    EXPECT_TRUE(Take(*rows, "sym%62ol=%41&b&last=1&last=2.5&time=10%3A00+AM&prev_close=x\r\nsymbol=IGNORED"));
    const TVantorEntry& row = rows->Rows().at(0);
    EXPECT_EQ(row.symbol, "A");
    EXPECT_EQ(row.last, 2.5);
    EXPECT_EQ(row.time, "10:00+AM");
    EXPECT_TRUE(std::isnan(row.prevClose));
    EXPECT_TRUE(std::isnan(row.extra));
    // An empty field line still makes a row, with nothing in it.
    EXPECT_TRUE(Take(*rows, ""));
    EXPECT_EQ(rows->Rows().size(), 2);
    EXPECT_TRUE(rows->Rows().at(0).symbol.isEmpty());
    EXPECT_EQ(rows->TakeAdded(), 2);
    EXPECT_EQ(rows->TakeAdded(), 0);
    // A time too long to sit inside the row is kept whole all the same.
    EXPECT_TRUE(Take(*rows, "symbol=B&time=2026-12-08%2009:30:15.123456789+UTC"));
    EXPECT_EQ(rows->Rows().at(0).time, "2026-12-08 09:30:15.123456789+UTC");
    EXPECT_EQ(rows->Rows().at(1).time, "");
}

TEST(AlertRows, StrikeSymbolAndSimpleListsKeepAThousandRowsUntilCleared)
{
    for (TAlertStyle style : {asStrike, asSymbolOnly, asSimpleList}) {
        SCOPED_TRACE(int(style));
        const auto rows = MakeAlertRows(style, {"c"});
        for (int i = 0; i < 1001; ++i)
            Take(*rows, "symbol=S" + QByteArray::number(i));
        const auto symbolAt = [&](qsizetype i) {
            if (const auto* list = dynamic_cast<const TSimpleListRows*>(rows.get()))
                return list->Rows().at(i).symbol;
            return dynamic_cast<const TVantorRows&>(*rows).Rows().at(i).symbol;
        };
        const auto size = [&] {
            if (const auto* list = dynamic_cast<const TSimpleListRows*>(rows.get()))
                return list->Rows().size();
            return dynamic_cast<const TVantorRows&>(*rows).Rows().size();
        };
        EXPECT_EQ(size(), 1000);
        EXPECT_EQ(symbolAt(0), "S1000");
        EXPECT_EQ(symbolAt(999), "S1");
        EXPECT_EQ(rows->TakeAdded(), 1001);
        EXPECT_TRUE(rows->Clear());
        EXPECT_EQ(size(), 0);
        EXPECT_FALSE(rows->Clear()) << "an empty list is not handed over again";
    }
}

TEST(AlertRows, FerrikAndDravelKeepEveryRowAndOtherStylesIgnoreClear)
{
    const auto ferrik = Make<TFerrikRows>(asFerrik);
    const auto dravel = Make<TDravelRows>(asDravel);
    for (int i = 0; i < 1500; ++i) {
        Take(*ferrik, "symbol=S" + QByteArray::number(i));
        Take(*dravel, "symbol=S" + QByteArray::number(i));
    }
    EXPECT_EQ(ferrik->Rows().size(), 1500);
    EXPECT_EQ(ferrik->Rows().last().symbol, "S0");
    EXPECT_EQ(dravel->Rows().at(0).symbol, "S1499");
    for (TAlertRows* rows : std::initializer_list<TAlertRows*>{ferrik.get(), dravel.get()})
        EXPECT_FALSE(rows->Clear());
    EXPECT_EQ(ferrik->Rows().size(), 1500);
    for (TAlertStyle style : {asBollinger, asPointsList, asQuentFull}) {
        const auto rows = MakeAlertRows(style, {"c"});
        Take(*rows, "symbol=A&last=1&change=1&action=add&dist_from_bb=1&symbol0=A&last0=1&change0=1");
        EXPECT_FALSE(rows->Clear()) << int(style);
    }
}

TEST(AlertRows, ExcludedSymbolsInAnyCaseSkipOnlyTheStrikeList)
{
    TSymbolSet excluded = NewExcludeList();
    ReplaceExcludeList(excluded, {"aaa"});
    const auto strike = Make<TVantorRows>(asStrike, "sma_divergence", DayNumberNow, &excluded);
    const auto board = Make<TVantorRows>(asSymbolOnly, "sma_divergence", DayNumberNow, &excluded);
    for (const QByteArray symbol : {"AAA", "aaa", "A%41a"}) {
        EXPECT_FALSE(Take(*strike, "symbol=" + symbol));
        EXPECT_TRUE(Take(*board, "symbol=" + symbol));
    }
    EXPECT_TRUE(Take(*strike, "symbol=BBB"));
    EXPECT_EQ(strike->Rows().size(), 1);
    EXPECT_EQ(board->Rows().size(), 3);
    // An emptied list lets the symbol through again.
    ReplaceExcludeList(excluded, {});
    EXPECT_TRUE(Take(*strike, "symbol=AAA"));
}

TEST(AlertRows, EachStyleTakesItsFields)
{
    // The strike list's extra value comes from the configured key, the board's from sma_divergence.
    const QByteArray vantor = "symbol=A&sma_divergence=1.5&spread=-0.25&last=10.5&prev_close=10";
    const auto named = Make<TVantorRows>(asStrike, "spread");
    const auto board = Make<TVantorRows>(asSymbolOnly, "spread");
    Take(*named, vantor);
    Take(*board, vantor);
    EXPECT_EQ(named->Rows().at(0).extra, -0.25);
    EXPECT_EQ(named->Rows().at(0).prevClose, 10);
    EXPECT_EQ(board->Rows().at(0).extra, 1.5);

    const auto simple = Make<TSimpleListRows>(asSimpleList);
    Take(*simple, "symbol=A&change=1.5&percent_vol=9");
    EXPECT_TRUE(std::isnan(simple->Rows().at(0).last));
    EXPECT_EQ(simple->Rows().at(0).change, 1.5);
    EXPECT_EQ(simple->Rows().at(0).percentVol, 0);

    const auto ferrik = Make<TFerrikRows>(asFerrik);
    Take(*ferrik, "time=09:31&symbol=F&change=-1.25&count=12&volume=34567&bb=2.5&rank=0.5&rv=3");
    Take(*ferrik, "symbol=G&count=x&volume=1.5&rank=bad");
    const TFerrikEntry& full = ferrik->Rows().at(1);
    EXPECT_EQ(full.time, "09:31");
    EXPECT_EQ(full.change, -1.25);
    EXPECT_EQ(full.count, 12);
    EXPECT_EQ(full.volume, 34567);
    EXPECT_EQ(full.bb, 2.5);
    EXPECT_EQ(full.rank, 0.5);
    EXPECT_EQ(full.rv, 3);
    const TFerrikEntry& sparse = ferrik->Rows().at(0);
    EXPECT_EQ(sparse.count, 0);
    EXPECT_EQ(sparse.volume, 0);
    EXPECT_EQ(sparse.rank, 0);
    EXPECT_TRUE(std::isnan(sparse.change));

    const auto dravel = Make<TDravelRows>(asDravel);
    Take(*dravel, "symbol=D&last=10&prev_close=8&count=3&volume=100");
    Take(*dravel, "symbol=E&last=10");
    Take(*dravel, "symbol=N&prev_close=8");
    const TDravelEntry& both = dravel->Rows().at(2);
    EXPECT_DOUBLE_EQ(both.percentChange, 25);
    EXPECT_DOUBLE_EQ(both.dollarChange, 2);
    EXPECT_EQ(both.count, 3);
    const TDravelEntry& noClose = dravel->Rows().at(1);
    EXPECT_EQ(noClose.prevClose, 0);
    EXPECT_DOUBLE_EQ(noClose.dollarChange, 10);
    EXPECT_TRUE(std::isnan(dravel->Rows().at(0).dollarChange));
}

QByteArray Symbols(const TBollingerEntries& rows)
{
    QByteArrayList symbols;
    for (const TBollingerEntry& row : rows)
        symbols.append(row.symbol);
    return symbols.join(' ');
}

TEST(AlertRows, BollingerAddsMovesAndDeletesAndHandsOverOnlyWhatChanged)
{
    const auto rows = Make<TBollingerRows>(asBollinger, {}, [] { return 46000.5; });
    EXPECT_TRUE(Take(*rows, "action=add&symbol=AAA&dist_from_bb=2&last=10&prev_close=9"));
    EXPECT_TRUE(Take(*rows, "action=add&symbol=BBB&dist_from_bb=-3"));
    EXPECT_TRUE(Take(*rows, "action=ad%64&symbol=abc&dist_from_bb=1"));
    EXPECT_TRUE(Take(*rows, "action=add&symbol=ABC&dist_from_bb=1"));
    EXPECT_EQ(Symbols(rows->Rows()), "BBB AAA ABC abc");
    EXPECT_EQ(rows->Rows().at(1).received, 46000.5);
    EXPECT_EQ(rows->Rows().at(1).prevClose, 9);
    EXPECT_TRUE(Take(*rows, "action=add&symbol=AAA&dist_from_bb=5"));
    EXPECT_EQ(Symbols(rows->Rows()), "AAA BBB ABC abc");
    EXPECT_TRUE(std::isnan(rows->Rows().at(0).last)) << "a new add replaces the whole row";

    // Rows of another letter case stay apart and delete cleanly.
    EXPECT_TRUE(Take(*rows, "action=delete&symbol=abc"));
    EXPECT_EQ(Symbols(rows->Rows()), "AAA BBB ABC");
    // Nothing to delete: nothing to hand over. Any other action hands the rows over unchanged.
    EXPECT_FALSE(Take(*rows, "action=delete&symbol=abc"));
    EXPECT_FALSE(Take(*rows, "action=delete&symbol=ZZZ"));
    EXPECT_TRUE(Take(*rows, "action=refresh&symbol=BBB"));
    EXPECT_TRUE(Take(*rows, "symbol=BBB"));
    EXPECT_EQ(Symbols(rows->Rows()), "AAA BBB ABC");
}

TEST(AlertRows, BollingerRowsExpireTwoMinutesAfterTheirLastAdd)
{
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 30), Qt::UTC);
    QDateTime now = start;
    const auto rows = Make<TBollingerRows>(asBollinger, {}, [&now] { return ToDayNumber(now); });
    Take(*rows, "action=add&symbol=OLD&dist_from_bb=1");
    now = now.addSecs(1);
    Take(*rows, "action=add&symbol=NEW&dist_from_bb=2");
    now = now.addSecs(58);
    Take(*rows, "action=add&symbol=OLD&dist_from_bb=1"); // renewed at +59 s
    now = now.addSecs(61);                                // NEW was received 1:59 ago
    EXPECT_FALSE(rows->Expire(ToDayNumber(now)));
    EXPECT_EQ(Symbols(rows->Rows()), "NEW OLD");
    now = now.addSecs(1); // NEW 2:00 ago
    EXPECT_TRUE(rows->Expire(ToDayNumber(now)));
    EXPECT_EQ(Symbols(rows->Rows()), "OLD");
    // The expired symbol is gone: deleting it hands nothing over.
    EXPECT_FALSE(Take(*rows, "action=delete&symbol=NEW"));
    now = now.addMSecs(57999); // OLD 1:59.999 ago
    EXPECT_FALSE(rows->Expire(ToDayNumber(now)));
    now = now.addMSecs(1);
    EXPECT_TRUE(rows->Expire(ToDayNumber(now)));
    EXPECT_TRUE(rows->Rows().isEmpty());
    // The clock the program uses and the calendar agree to the millisecond.
    EXPECT_EQ(DayNumberOfMs(start.toMSecsSinceEpoch() + 1), ToDayNumber(start.addMSecs(1)));
    EXPECT_EQ(DayNumberOfMs(-1), ToDayNumber(QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC)));
}

TEST(AlertRows, PointsListStopsAtTheFirstIncompleteRow)
{
    const auto rows = Make<TPointsListRows>(asPointsList);
    Take(*rows, "symbol0=A&last0=1&change0=0.5&percent_vol0=12.5&symbol1=B&last1=x&change1=1&symbol2=C&last2=3&change2=1");
    ASSERT_EQ(rows->Rows().size(), 1);
    EXPECT_EQ(rows->Rows().at(0).percentVol, 12.5);
    // A bad percent volume does not end the list; a missing change does.
    Take(*rows, "symbol0=A&last0=1&change0=0&percent_vol0=x&symbol1=B&last1=2&change1=1&symbol2=C&last2=3");
    ASSERT_EQ(rows->Rows().size(), 2);
    EXPECT_TRUE(std::isnan(rows->Rows().at(0).percentVol));
    EXPECT_TRUE(Take(*rows, "last0=1&change0=1&symbol1=B&last1=1&change1=1"));
    EXPECT_TRUE(rows->Rows().isEmpty());
}

QByteArray TopList(const QByteArray& prefix, int rows)
{
    QByteArrayList fields;
    for (int n = 0; n < rows; ++n) {
        const QByteArray i = QByteArray::number(n);
        fields << "symbol" + i + "=" + prefix + i << "last" + i + "=" + QByteArray::number(n + 1) << "volume" + i + "=7";
    }
    return fields.join('&');
}

TEST(AlertRows, TopListTakesEveryNumberedRow)
{
    const auto rows = Make<TTopListRows>(asQuentFull);
    EXPECT_TRUE(Take(*rows, TopList("T", 60) + "&price_spike0=7.5&vol_rate0=x&count0=4&count0=5&change01=9&sym%62ol60=X"));
    ASSERT_EQ(rows->Rows().size(), 61);
    const TQuentTopListEntry& first = rows->Rows().at(0);
    EXPECT_EQ(first.symbol, "T0");
    EXPECT_EQ(first.priceSpike, 7.5);
    EXPECT_TRUE(std::isnan(first.volRate));
    EXPECT_EQ(first.count, 5);
    EXPECT_EQ(first.volume, 7);
    EXPECT_TRUE(std::isnan(rows->Rows().at(1).change)) << "change01 names no row";
    EXPECT_EQ(rows->Rows().at(59).last, 60);
    EXPECT_EQ(rows->Rows().at(60).symbol, "X");
    // The next list shares the texts of symbols that stayed where they were.
    const TQuentTopListEntries before = rows->Rows();
    Take(*rows, TopList("T", 2) + "&symbol1=U");
    EXPECT_EQ(rows->Rows().at(0).symbol.constData(), before.at(0).symbol.constData());
    EXPECT_EQ(rows->Rows().at(1).symbol, "U");

    EXPECT_TRUE(Take(*rows, "last0=1&symbol1=A"));
    EXPECT_TRUE(rows->Rows().isEmpty());
}

// Every row and every field counts up to bounds no real alert comes near:
// only an alert of more than MaxAlertFields fields, or a value the rows
// would take that is longer than MaxAlertValueBytes, drops an alert (the
// window keeps what it shows), and a list past MaxListRows rows is cut.
TEST(AlertRows, OnlyALongValueTheRowsTakeDropsAnAlert)
{
    QStringList logged;
    auto debugSink = std::make_unique<TDebugSinkScope>([&](const QString& line) { logged << line; });
    const QByteArray tooLong(MaxAlertValueBytes + 1, '1');
    const auto strike = Make<TVantorRows>(asStrike);
    EXPECT_TRUE(Take(*strike, "symbol=A&note=" + QByteArray(1100, 'n') + QByteArray(3000, '&') + "&time=" + tooLong + "&time=1"));
    EXPECT_TRUE(Take(*strike, "symbol=" + QByteArray(MaxAlertValueBytes, 'B')));
    EXPECT_FALSE(Take(*strike, "symbol=C&last=" + tooLong));
    QByteArray emptyNames;
    for (qsizetype i = 1; i < MaxAlertFields; ++i)
        emptyNames += "=&";
    EXPECT_TRUE(Take(*strike, emptyNames + "symbol=D"));
    EXPECT_FALSE(Take(*strike, emptyNames + "=&symbol=E"));
    ASSERT_EQ(strike->Rows().size(), 3);
    EXPECT_EQ(strike->Rows().at(0).symbol, "D");
    EXPECT_EQ(strike->Rows().at(2).symbol, "A");

    const auto top = Make<TTopListRows>(asQuentFull);
    EXPECT_TRUE(Take(*top, TopList("T", 137)));
    EXPECT_EQ(top->Rows().size(), 137);
    EXPECT_FALSE(Take(*top, TopList("U", 3) + "&change2=" + tooLong));
    EXPECT_EQ(top->Rows().size(), 137);
    EXPECT_TRUE(Take(*top, TopList("U", 3) + "&change4=" + tooLong)) << "row 4 is past the list";
    EXPECT_EQ(top->Rows().size(), 3);
    EXPECT_TRUE(Take(*top, TopList("V", MaxListRows + 1)));
    EXPECT_EQ(top->Rows().size(), MaxListRows);
    EXPECT_EQ(top->Rows().last().symbol, "V" + QByteArray::number(MaxListRows - 1));

    const auto points = Make<TPointsListRows>(asPointsList);
    QByteArrayList fields;
    for (int n = 0; n < 600; ++n)
        fields << "symbol" + QByteArray::number(n) + "=P&last" + QByteArray::number(n) + "=1&change" + QByteArray::number(n) + "=2";
    EXPECT_TRUE(Take(*points, fields.join('&')));
    EXPECT_EQ(points->Rows().size(), 600);

    debugSink.reset();
    ASSERT_EQ(logged.size(), 4) << logged.join('\n').toStdString();
    EXPECT_TRUE(logged[0].contains("\"c\": an alert was dropped: it holds more than 1000000 fields or a field it "
                                   "reads is longer than 1024 bytes"))
        << logged[0].toStdString();
    EXPECT_TRUE(logged[3].contains("a list of more than 10000 rows was cut to its first 10000")) << logged[3].toStdString();
}

// ---- Seeded random runs against the model of the rows

// Alert texts and commands for the window of one style, drawn from small
// pools so that symbols and distances repeat: ties, both signs, NaN,
// deletes, symbols in two letter cases, clock ticks of 30 s (a row added
// four ticks ago is exactly two minutes old), lists of up to hundreds of
// rows, long values that are read (the alert is dropped) and not read.
class TRunMaker {
public:
    TRunMaker(TAlertStyle style, quint32 seed) : m_style(style), m_random(seed) {}

    QByteArray Next()
    {
        const int roll = Between(0, 99);
        if (roll < 12)
            return "t";
        if (roll < 20)
            return QByteArray(1, "cfsx"[Between(0, 3)]);
        // Repeats test the bound of the newest-first lists; a whole list repeated is the same list.
        if (roll == 20)
            return m_style == asPointsList || m_style == asQuentFull ? "s" : "r";
        // Now and then an alert for another window, which changes nothing there.
        const TAlertStyle category = roll < 24 ? TAlertStyle(Between(0, 7)) : m_style;
        return AlertRowsModel::CategoryOf(category) + "\r\n" + FieldLine();
    }

private:
    int Between(int low, int high) { return int(m_random.bounded(low, high + 1)); }
    QByteArray Pick(const QByteArrayList& pool) { return pool[Between(0, int(pool.size()) - 1)]; }
    QByteArray Symbol()
    {
        static const QByteArrayList symbols{"AAA", "AAB", "BBB", "aaa", "CCC", "A%41B", "ZZZ", ""};
        return Pick(symbols);
    }
    QByteArray Number()
    {
        static const QByteArrayList numbers{"10", "-3.25", "0", "-0", "2.5", "-2.5", "x", "", "1e3", "nan", "12.50"};
        return Pick(numbers);
    }
    QByteArray Count()
    {
        static const QByteArrayList counts{"0", "7", "12", "-4", "x", "", "99999999999"};
        return Pick(counts);
    }
    QByteArray Time()
    {
        static const QByteArrayList times{"09:31", "09%3A31%3A02", "", "2026-12-08 09:30:15.123456789"};
        return Pick(times);
    }
    QByteArray ListSymbol()
    {
        static const QByteArrayList symbols{"AAA", "aaa", "BBB", "C%43C", "D"};
        return Pick(symbols);
    }
    QByteArray Field(const QByteArray& name, const QByteArray& value) { return name + "=" + value; }

    // Sometimes a value too long to keep, sometimes a long field nobody reads.
    QByteArray Oddity()
    {
        const int roll = Between(0, 29);
        if (roll == 0)
            return "&symbol=" + QByteArray(MaxAlertValueBytes + 1, 'L');
        if (roll == 1)
            return "&note=" + QByteArray(1100, 'n');
        return {};
    }

    QByteArray List(const QByteArrayList& columns)
    {
        // Mostly short lists, some of hundreds of rows.
        const int rows = Between(0, 9) == 0 ? Between(100, 600) : Between(0, 30);
        QByteArrayList fields;
        for (int n = 0; n < rows; ++n) {
            const QByteArray suffix = QByteArray::number(n);
            for (const QByteArray& column : columns)
                if (Between(0, 99) != 0) // a field missing now and then ends or blanks a row
                    fields << Field(column + suffix, column == "symbol" ? ListSymbol() : Number());
        }
        if (Between(0, 19) == 0 && rows > 0)
            fields << Field(Pick(columns) + QByteArray::number(Between(0, rows - 1)), QByteArray(MaxAlertValueBytes + 1, '7'));
        return fields.join('&');
    }

    QByteArray FieldLine()
    {
        switch (m_style) {
        case asBollinger:
            return Field("action", Pick({"add", "add", "add", "delete", "ad%64", "refresh"})) + "&" +
                   Field("symbol", Symbol()) + "&" + Field("dist_from_bb", Number()) + "&" + Field("last", Number()) +
                   Oddity();
        case asPointsList:
            return List({"symbol", "last", "change", "percent_vol"});
        case asQuentFull:
            return List({"symbol", "price_spike", "vol_rate", "last", "change", "volume", "count"});
        case asFerrik:
            return Field("time", Time()) + "&" + Field("symbol", Symbol()) + "&" + Field("change", Number()) + "&" +
                   Field("count", Count()) + "&" + Field("volume", Count()) + "&" + Field("rank", Number()) + Oddity();
        case asDravel:
            return Field("time", Time()) + "&" + Field("symbol", Symbol()) + "&" + Field("last", Number()) + "&" +
                   Field("prev_close", Number()) + "&" + Field("count", Count()) + Oddity();
        default:
            return Field("symbol", Symbol()) + "&" + Field("last", Number()) + "&" + Field("prev_close", Number()) +
                   "&" + Field("change", Number()) + "&" + Field("sma_divergence", Number()) + "&" +
                   Field("time", Time()) + Oddity();
        }
    }

    TAlertStyle m_style;
    QRandomGenerator m_random;
};

TEST(AlertRowsModel, SeededRunsOfEveryStyleAgreeWithTheModel)
{
    // The model's runs drop alerts on purpose: one debug line each.
    const TDebugSinkScope quiet([](const QString&) {});
    constexpr int RunsPerStyle = 3;
    constexpr int StepsPerRun = 200;
    for (const TAlertStyle style : {asStrike, asBollinger, asSymbolOnly, asPointsList, asSimpleList, asFerrik,
                                    asQuentFull, asDravel}) {
        for (quint32 seed = 1; seed <= RunsPerStyle; ++seed) {
            TRunMaker maker(style, seed);
            AlertRowsModel::Start();
            QByteArray piece;
            try {
                for (int step = 0; step < StepsPerRun; ++step) {
                    piece = maker.Next();
                    AlertRowsModel::Step(piece);
                }
            } catch (const AlertRowsModel::TBrokenRule& broken) {
                ADD_FAILURE() << "window " << AlertRowsModel::CategoryOf(style).constData() << ", seed " << seed
                              << ": " << broken.what() << "\n  at " << piece.left(200).constData();
            }
        }
    }
    AlertRowsModel::Start(); // leaves the exclude list empty
}

} // namespace
