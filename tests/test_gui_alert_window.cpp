// Alert windows end to end: settings, filtering, every list style's rows as
// the grid receives them, expiry, the commands and their menus; the main
// window's list of alert windows with their placements; the exclude list form.
#include "CollidingFieldNames.h"
#include "GuiFakeSound.h"
#include "LocalMainConnection.h"
#include "ReferenceServer.h"
#include "ScriptedServerConnection.h"
#include "TestEnvironment.h"
#include "WireTestKit.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/ExcludeList.h"
#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "Shared/ServerConnectionFactory.h"
#include "Zembra/MainConnectionUnit.h"
#include "platform/core/IniFile.h"
#include "platform/core/SettingsStore.h"
#include "platform/gui/PriceSpikeSound.h"
#include "shell/ExternalLinkingWindowUnit.h"
#include "shell/FakeDataFormUnit.h"
#include "shell/MainFormUnit.h"
#include "shell/VantorExcludeFormUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

QByteArray Alert(const QByteArray& category, const QByteArray& fields)
{
    return category + "\r\n" + fields;
}

std::unique_ptr<TAlertForm> MakeWindow(const QByteArray& sectionBody)
{
    const TIniFile ini = TIniFile::FromText("[Alert Window 3]\n" + sectionBody);
    auto window = std::make_unique<TAlertForm>();
    window->LoadSettings(ini, "Alert Window 3");
    return window;
}

// Counts the grid's SetEntries calls: each one invalidates the whole grid once.
std::unique_ptr<QSignalSpy> SetEntriesSpy(const TAlertForm& window)
{
    return std::make_unique<QSignalSpy>(window.Grid()->model(), &QAbstractItemModel::dataChanged);
}

QByteArray Symbols(const TBollingerEntries& rows)
{
    QByteArrayList symbols;
    for (const TBollingerEntry& row : rows)
        symbols.append(row.symbol);
    return symbols.join(' ');
}

class AlertWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseLocalMainConnection();
        ReplaceExcludeList({});
    }
    void TearDown() override { ReplaceExcludeList({}); }
};

// ---------------------------------------------------------------------------
// Settings

TEST_F(AlertWindowTest, SettingsPickTheStyleCaptionKeyAndGridSetUp)
{
    const auto strike = MakeWindow("subscription=strike\nsuffix=-2\ncolor=$00FFFF\n"
                                   "extra_column_visible_name=SMA\nextra_column_format=I\n");
    EXPECT_EQ(strike->Style(), asStrike);
    EXPECT_EQ(strike->windowTitle(), "Alerts");
    EXPECT_EQ(strike->WindowKey(), "strike-2");
    ASSERT_NE(strike->StrikeView, nullptr);
    EXPECT_EQ(strike->Grid(), strike->StrikeView);
    EXPECT_EQ(strike->StrikeView->TextColor(), 0x00FFFFu);
    EXPECT_EQ(strike->StrikeView->ExtraColumnName(), "SMA");
    EXPECT_EQ(strike->StrikeView->ExtraColumnFormat(), "I");
    EXPECT_EQ(strike->ExtraColumnKey(), "sma_divergence");
    EXPECT_EQ(strike->BollingerView, nullptr);
    EXPECT_EQ(strike->QuentView, nullptr);

    const auto bands = MakeWindow("subscription=b\ntitle=Bands\ndisplay=set\nextra=Dist\ncolor=255\n");
    EXPECT_EQ(bands->Style(), asBollinger);
    EXPECT_EQ(bands->windowTitle(), "Bands");
    ASSERT_NE(bands->BollingerView, nullptr);
    EXPECT_EQ(bands->BollingerView->BandLabel(), "Dist");
    EXPECT_EQ(MakeWindow("display=set\n")->BollingerView->BandLabel(), "BBand");

    const auto points = MakeWindow("display=pointslist\nvolume=1\ncolor=bad\n");
    ASSERT_NE(points->PointsView, nullptr);
    EXPECT_EQ(points->PointsView->ColCount(), 4);
    EXPECT_EQ(points->PointsView->TextColor(), 0xFFFFFFu);
    // The volume column belongs to the points list only.
    EXPECT_EQ(MakeWindow("display=simplelist\nvolume=1\n")->PointsView->ColCount(), 3);

    const auto quent = MakeWindow("display=quent\ncolumns=0,11,12\nignore_sort_timer=1\n");
    ASSERT_NE(quent->QuentView, nullptr);
    EXPECT_EQ(quent->QuentView->Columns(), (QVector<int>{0, 11, 12}));
    EXPECT_TRUE(quent->QuentView->IgnoreSortTimer());
    EXPECT_FALSE(MakeWindow("display=quent\nignore_sort_timer=yes\n")->QuentView->IgnoreSortTimer());

    EXPECT_NE(MakeWindow("display=ferrik-simplelist\n")->FerrikView, nullptr);
    EXPECT_NE(MakeWindow("display=dravel-simplelist\n")->DravelView, nullptr);
    EXPECT_NE(MakeWindow("display=symbol\n")->SymbolView, nullptr);
    EXPECT_EQ(MakeWindow("display=Set\n")->Style(), asStrike);

    // The style is chosen once: a second reading is refused and changes nothing.
    EXPECT_THROW(strike->LoadSettings(TIniFile::FromText("[x]\ndisplay=set\n"), "x"), EAssertionFailed);
    EXPECT_EQ(strike->Style(), asStrike);
    EXPECT_EQ(strike->WindowKey(), "strike-2");
}

TEST_F(AlertWindowTest, DesignBoundsAndClosingOnlyHides)
{
    auto window = MakeWindow("subscription=strike\n");
    EXPECT_EQ(window->geometry(), QRect(36, 36, 393, 480));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_EQ(window->Grid()->parentWidget(), window.get());

    window->show();
    QPointer<TAlertForm> alive(window.get());
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(alive.isNull());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(AllAlertWindows().contains(window.get()));
    // Hidden windows keep receiving alerts.
    window->HandleAlert(Alert("strike", "symbol=A"));
    EXPECT_EQ(window->StrikeRows().size(), 1);
}

// ---------------------------------------------------------------------------
// Alert texts

TEST_F(AlertWindowTest, OnlyTheExactCategoryReachesTheRows)
{
    const auto window = MakeWindow("subscription=strike\n");
    const auto spy = SetEntriesSpy(*window);
    window->HandleAlert(Alert("other", "symbol=A"));
    window->HandleAlert(Alert("Strike", "symbol=A"));
    window->HandleAlert(Alert("strike2", "symbol=A"));
    window->HandleAlert("strikesymbol=A");
    EXPECT_TRUE(window->StrikeRows().isEmpty());
    EXPECT_EQ(spy->count(), 0);

    // Delivered through the main connection like a server alert.
    MainConnection().DeliverAlerts(true, Alert("strike", "symbol=A&last=1"), {});
    ASSERT_EQ(window->StrikeRows().size(), 1);
    EXPECT_EQ(window->StrikeView->EntryCount(), 1);
    EXPECT_EQ(spy->count(), 1);
}

TEST_F(AlertWindowTest, FieldsAreDecodedSkippedAndReplaced)
{
    const auto window = MakeWindow("subscription=strike\n");
    window->HandleAlert(Alert("strike", "symbol=%41&b&last=1&last=2.5&time=10%3A00+AM\r\nsymbol=IGNORED"));
    ASSERT_EQ(window->StrikeRows().size(), 1);
    const TVantorEntry& row = window->StrikeRows().at(0);
    EXPECT_EQ(row.symbol, "A");
    EXPECT_EQ(row.last, 2.5);
    EXPECT_EQ(row.time, "10:00+AM");
    EXPECT_TRUE(std::isnan(row.prevClose));
    EXPECT_TRUE(std::isnan(row.extra));

    // An empty field line still makes a row, with nothing in it.
    window->HandleAlert("strike");
    ASSERT_EQ(window->StrikeRows().size(), 2);
    EXPECT_TRUE(window->StrikeRows().at(0).symbol.isEmpty());
}

TEST_F(AlertWindowTest, AnAlertOverTheLimitsIsDroppedWithOneDebugLine)
{
    QStringList logged;
    SetDebugSink([&](const QString& line) { logged << line; });
    const auto window = MakeWindow("subscription=strike\n");
    const auto spy = SetEntriesSpy(*window);
    window->HandleAlert(Alert("strike", "symbol=A" + QByteArray(MaxAlertFields, '&')));
    SetDebugSink(nullptr);
    EXPECT_TRUE(window->StrikeRows().isEmpty());
    EXPECT_EQ(spy->count(), 0);
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].contains("\"strike\": an alert was dropped")) << logged[0].toStdString();

    window->HandleAlert(Alert("strike", "symbol=B" + QByteArray(MaxAlertFields - 1, '&')));
    EXPECT_EQ(window->StrikeRows().size(), 1);
}

TEST_F(AlertWindowTest, AWindowWithoutSettingsShowsNothingAndDoesNotFail)
{
    TAlertForm window;
    window.HandleAlert("\r\nsymbol=A");
    EXPECT_EQ(window.Grid(), nullptr);
    EXPECT_TRUE(window.StrikeRows().isEmpty());
}

// ---------------------------------------------------------------------------
// Newest-first styles

TEST_F(AlertWindowTest, StrikeListIsNewestFirstAndKeepsAThousandRows)
{
    const auto window = MakeWindow("subscription=strike\n");
    for (int i = 0; i < 1001; ++i)
        window->HandleAlert(Alert("strike", "symbol=S" + QByteArray::number(i)));
    EXPECT_EQ(window->StrikeRows().size(), 1000);
    EXPECT_EQ(window->StrikeRows().at(0).symbol, "S1000");
    EXPECT_EQ(window->StrikeRows().at(999).symbol, "S1");
    EXPECT_EQ(window->StrikeView->EntryCount(), 1000);
    EXPECT_EQ(window->StrikeView->CellText(0, 1), "S1000");
    EXPECT_EQ(window->StrikeView->CellText(0, 1000), "S1");
}

TEST_F(AlertWindowTest, ExcludedSymbolsInAnyCaseSkipOnlyStrikeWindows)
{
    ReplaceExcludeList({"aaa"});
    const auto strike = MakeWindow("subscription=s\n");
    const auto board = MakeWindow("subscription=s\ndisplay=symbol\n");
    for (const QByteArray symbol : {"AAA", "aaa", "AaA"}) {
        strike->HandleAlert(Alert("s", "symbol=" + symbol));
        board->HandleAlert(Alert("s", "symbol=" + symbol));
    }
    strike->HandleAlert(Alert("s", "symbol=BBB"));
    ASSERT_EQ(strike->StrikeRows().size(), 1);
    EXPECT_EQ(strike->StrikeRows().at(0).symbol, "BBB");
    EXPECT_EQ(board->SymbolRows().size(), 3);
    EXPECT_EQ(board->SymbolView->EntryCount(), 3);

    // An emptied list lets the symbol through again.
    ReplaceExcludeList({});
    strike->HandleAlert(Alert("s", "symbol=AAA"));
    EXPECT_EQ(strike->StrikeRows().at(0).symbol, "AAA");
}

TEST_F(AlertWindowTest, ExtraColumnComesFromTheConfiguredKey)
{
    const auto byDefault = MakeWindow("subscription=s\n");
    const auto named = MakeWindow("subscription=s\nextra_column_internal_name=spread\n");
    const auto board = MakeWindow("subscription=s\ndisplay=symbol\nextra_column_internal_name=spread\n");
    const QByteArray text = Alert("s", "symbol=A&sma_divergence=1.5&spread=-0.25&last=10.5&prev_close=10");
    for (TAlertForm* window : {byDefault.get(), named.get(), board.get()})
        window->HandleAlert(text);
    EXPECT_EQ(byDefault->StrikeRows().at(0).extra, 1.5);
    EXPECT_EQ(named->StrikeRows().at(0).extra, -0.25);
    EXPECT_EQ(board->SymbolRows().at(0).extra, 1.5);
    EXPECT_EQ(byDefault->StrikeRows().at(0).last, 10.5);
    EXPECT_EQ(byDefault->StrikeRows().at(0).prevClose, 10);
}

TEST_F(AlertWindowTest, SimpleFerrikAndDravelRowsTakeTheirFields)
{
    const auto simple = MakeWindow("subscription=s\ndisplay=simplelist\n");
    simple->HandleAlert(Alert("s", "symbol=A&change=1.5&percent_vol=9"));
    const TPointsTopListEntry& simpleRow = simple->SimpleListRows().at(0);
    EXPECT_EQ(simpleRow.symbol, "A");
    EXPECT_TRUE(std::isnan(simpleRow.last));
    EXPECT_EQ(simpleRow.change, 1.5);
    EXPECT_EQ(simpleRow.percentVol, 0);
    EXPECT_EQ(simple->PointsView->EntryCount(), 1);

    const auto ferrik = MakeWindow("subscription=s\ndisplay=ferrik-simplelist\n");
    ferrik->HandleAlert(Alert("s", "time=09:31&symbol=F&change=-1.25&count=12&volume=34567&bb=2.5&rank=0.5&rv=3"));
    ferrik->HandleAlert(Alert("s", "symbol=G&count=x&volume=1.5&rank=bad"));
    ASSERT_EQ(ferrik->FerrikRows().size(), 2);
    const TFerrikEntry& full = ferrik->FerrikRows().at(1);
    EXPECT_EQ(full.time, "09:31");
    EXPECT_EQ(full.symbol, "F");
    EXPECT_EQ(full.change, -1.25);
    EXPECT_EQ(full.count, 12);
    EXPECT_EQ(full.volume, 34567);
    EXPECT_EQ(full.bb, 2.5);
    EXPECT_EQ(full.rank, 0.5);
    EXPECT_EQ(full.rv, 3);
    const TFerrikEntry& sparse = ferrik->FerrikRows().at(0);
    EXPECT_EQ(sparse.symbol, "G");
    EXPECT_EQ(sparse.count, 0);
    EXPECT_EQ(sparse.volume, 0);
    EXPECT_EQ(sparse.rank, 0);
    EXPECT_TRUE(std::isnan(sparse.change));
    EXPECT_TRUE(std::isnan(sparse.bb));
    EXPECT_EQ(ferrik->FerrikView->CellText(1, 1), "G");
    EXPECT_EQ(ferrik->FerrikView->CellText(1, 2), "F");

    const auto dravel = MakeWindow("subscription=s\ndisplay=dravel-simplelist\n");
    dravel->HandleAlert(Alert("s", "symbol=D&last=10&prev_close=8&count=3&volume=100"));
    dravel->HandleAlert(Alert("s", "symbol=E&last=10"));
    dravel->HandleAlert(Alert("s", "symbol=N&prev_close=8"));
    ASSERT_EQ(dravel->DravelRows().size(), 3);
    const TDravelEntry& both = dravel->DravelRows().at(2);
    EXPECT_DOUBLE_EQ(both.percentChange, 25);
    EXPECT_DOUBLE_EQ(both.dollarChange, 2);
    EXPECT_EQ(both.count, 3);
    EXPECT_EQ(both.volume, 100);
    const TDravelEntry& noClose = dravel->DravelRows().at(1);
    EXPECT_EQ(noClose.prevClose, 0);
    EXPECT_EQ(noClose.percentChange, 0);
    EXPECT_DOUBLE_EQ(noClose.dollarChange, 10);
    const TDravelEntry& noLast = dravel->DravelRows().at(0);
    EXPECT_EQ(noLast.percentChange, 0);
    EXPECT_TRUE(std::isnan(noLast.dollarChange));
    EXPECT_EQ(dravel->DravelView->EntryCount(), 3);
}

TEST_F(AlertWindowTest, FerrikAndDravelListsAreNeverTrimmed)
{
    const auto ferrik = MakeWindow("subscription=s\ndisplay=ferrik-simplelist\n");
    const auto dravel = MakeWindow("subscription=s\ndisplay=dravel-simplelist\n");
    for (int i = 0; i < 1500; ++i) {
        const QByteArray text = Alert("s", "symbol=S" + QByteArray::number(i));
        ferrik->HandleAlert(text);
        dravel->HandleAlert(text);
    }
    EXPECT_EQ(ferrik->FerrikView->EntryCount(), 1500);
    EXPECT_EQ(dravel->DravelView->EntryCount(), 1500);
    EXPECT_EQ(ferrik->FerrikView->CellText(1, 1500), "S0");
    EXPECT_EQ(dravel->DravelView->CellText(1, 1), "S1499");
}

// ---------------------------------------------------------------------------
// Bollinger

class BollingerTest : public AlertWindowTest {
protected:
    void SetUp() override
    {
        AlertWindowTest::SetUp();
        Window = MakeWindow("subscription=bb\ndisplay=set\n");
        Window->SetClock([this] { return Now; });
        Spy = SetEntriesSpy(*Window);
    }
    void Add(const QByteArray& symbol, const QByteArray& distance)
    {
        Window->HandleAlert(Alert("bb", "action=add&symbol=" + symbol + "&dist_from_bb=" + distance));
    }
    void Delete(const QByteArray& symbol) { Window->HandleAlert(Alert("bb", "action=delete&symbol=" + symbol)); }
    QByteArray Shown() const
    {
        QByteArrayList symbols;
        for (int i = 0; i < Window->BollingerView->EntryCount(); ++i)
            symbols.append(Window->BollingerView->CellText(0, i + 1).toUtf8());
        return symbols.join(' ');
    }

    QDateTime Now = QDateTime(QDate(2026, 3, 2), QTime(9, 30), Qt::UTC);
    std::unique_ptr<TAlertForm> Window;
    std::unique_ptr<QSignalSpy> Spy;
};

TEST_F(BollingerTest, AddsMovesAndDeletesInDistanceOrder)
{
    Add("AAA", "2");
    Add("BBB", "-3");
    Add("CCC", "2");
    EXPECT_EQ(Shown(), "BBB AAA CCC");
    Add("AAA", "5");
    EXPECT_EQ(Shown(), "AAA BBB CCC");
    EXPECT_EQ(Window->BollingerRows().at(0).distFromBB, 5);
    EXPECT_EQ(Spy->count(), 4);

    Delete("AAA");
    EXPECT_EQ(Shown(), "BBB CCC");
    EXPECT_FALSE(Window->BollingerSymbols().Contains("AAA"));
    EXPECT_EQ(Spy->count(), 5);

    // Nothing to delete: no hand-off, no repaint.
    Delete("AAA");
    Delete("ZZZ");
    EXPECT_EQ(Spy->count(), 5);
    // Any other action hands the unchanged rows over again.
    Window->HandleAlert(Alert("bb", "action=refresh&symbol=BBB"));
    Window->HandleAlert(Alert("bb", "symbol=BBB"));
    EXPECT_EQ(Spy->count(), 7);
    EXPECT_EQ(Shown(), "BBB CCC");
}

TEST_F(BollingerTest, RowsOfOtherLetterCaseStayApartAndDeleteCleanly)
{
    Add("abc", "1");
    Add("ABC", "2");
    EXPECT_EQ(Shown(), "ABC abc");
    Delete("abc");
    EXPECT_EQ(Shown(), "ABC");
    // The remaining row is still found: re-adding moves it, deleting removes it.
    Add("ABC", "3");
    EXPECT_EQ(Shown(), "ABC");
    Delete("ABC");
    EXPECT_EQ(Shown(), "");
}

TEST_F(BollingerTest, RowsExpireTwoMinutesAfterTheirLastAdd)
{
    Add("OLD", "1");
    Now = Now.addSecs(1);
    Add("NEW", "2");
    Now = Now.addSecs(58);
    Add("OLD", "1"); // renewed: received again at +59 s
    EXPECT_EQ(Shown(), "NEW OLD");
    const int handedOver = Spy->count();

    Now = Now.addSecs(61); // NEW was received 1:59 ago
    Window->ExpireBollingersTimerTimer();
    EXPECT_EQ(Shown(), "NEW OLD");
    EXPECT_EQ(Spy->count(), handedOver);

    Now = Now.addSecs(1); // NEW 2:00 ago, OLD 1:02 ago
    Window->ExpireBollingersTimerTimer();
    EXPECT_EQ(Shown(), "OLD");
    EXPECT_EQ(Spy->count(), handedOver + 1);
    EXPECT_EQ(Window->BollingerSymbols().Items(), QList<QByteArray>{"OLD"});

    // The expired symbol is gone: deleting it is a no-op, adding it is new.
    Delete("NEW");
    EXPECT_EQ(Spy->count(), handedOver + 1);
    Now = Now.addMSecs(57999); // OLD 1:59.999 ago
    Window->ExpireBollingersTimerTimer();
    EXPECT_EQ(Shown(), "OLD");
    Now = Now.addMSecs(1);
    Window->ExpireBollingersTimerTimer();
    EXPECT_EQ(Shown(), "");
    EXPECT_EQ(Window->BollingerSymbols().Count(), 0);
}

TEST_F(AlertWindowTest, ExpiryTimerRunsEverySecond)
{
    const auto window = MakeWindow("display=set\n");
    EXPECT_TRUE(window->ExpireBollingersTimer->isActive());
    EXPECT_EQ(window->ExpireBollingersTimer->interval(), 1000);
}

// ---------------------------------------------------------------------------
// Whole-list styles

TEST_F(AlertWindowTest, PointsListStopsAtTheFirstIncompleteRow)
{
    const auto window = MakeWindow("subscription=p\ndisplay=pointslist\nvolume=1\n");
    window->HandleAlert(Alert("p", "symbol0=A&last0=1&change0=0.5&percent_vol0=12.5"
                                   "&symbol1=B&last1=x&change1=1&symbol2=C&last2=3&change2=1"));
    ASSERT_EQ(window->PointsRows().size(), 1);
    EXPECT_EQ(window->PointsRows().at(0).symbol, "A");
    EXPECT_EQ(window->PointsRows().at(0).percentVol, 12.5);
    EXPECT_EQ(window->PointsView->EntryCount(), 1);

    // A bad percent volume does not end the list; a missing change does.
    window->HandleAlert(Alert("p", "symbol0=A&last0=1&change0=0&percent_vol0=x"
                                   "&symbol1=B&last1=2&change1=1&symbol2=C&last2=3"));
    ASSERT_EQ(window->PointsRows().size(), 2);
    EXPECT_TRUE(std::isnan(window->PointsRows().at(0).percentVol));

    window->HandleAlert(Alert("p", "last0=1&change0=1&symbol1=B&last1=1&change1=1"));
    EXPECT_TRUE(window->PointsRows().isEmpty());
    EXPECT_EQ(window->PointsView->EntryCount(), 0);
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

TEST_F(AlertWindowTest, TopListTakesEveryNumberedRow)
{
    const auto window = MakeWindow("subscription=q\ndisplay=quent\n");
    window->HandleAlert(Alert("q", TopList("T", 60) + "&price_spike0=7.5&vol_rate0=x&count0=4"));
    ASSERT_EQ(window->QuentRows().size(), 60);
    const TQuentTopListEntry& first = window->QuentRows().at(0);
    EXPECT_EQ(first.symbol, "T0");
    EXPECT_EQ(first.priceSpike, 7.5);
    EXPECT_TRUE(std::isnan(first.volRate));
    EXPECT_EQ(first.count, 4);
    EXPECT_EQ(first.volume, 7);
    EXPECT_EQ(window->QuentRows().at(59).symbol, "T59");
    EXPECT_EQ(window->QuentRows().at(59).last, 60);
    EXPECT_EQ(window->QuentView->Pending().size(), 60);

    window->HandleAlert(Alert("q", "last0=1"));
    EXPECT_TRUE(window->QuentRows().isEmpty());
}

// ---------------------------------------------------------------------------
// Commands and menus

TEST_F(AlertWindowTest, ClearWindowEmptiesOnlyTheNewestFirstStylesWithTheCommand)
{
    struct Case {
        QByteArray display;
        bool clears;
    };
    // One alert that makes a row in every style.
    const QByteArray one = "symbol=A&last=1&change=1&action=add&dist_from_bb=1&symbol0=A&last0=1&change0=1";
    for (const Case& c : {Case{"", true}, Case{"symbol", true}, Case{"simplelist", true}, Case{"set", false},
                          Case{"pointslist", false}, Case{"ferrik-simplelist", false},
                          Case{"dravel-simplelist", false}, Case{"quent", false}}) {
        SCOPED_TRACE(c.display.constData());
        const auto window = MakeWindow("subscription=c\ndisplay=" + c.display + "\n");
        window->HandleAlert(Alert("c", one));
        ASSERT_EQ(window->Grid()->EntryCount(), 1);
        const auto spy = SetEntriesSpy(*window);
        window->ClearWindowMenuItemClick();
        EXPECT_EQ(window->Grid()->EntryCount(), c.clears ? 0 : 1);
        EXPECT_EQ(spy->count(), c.clears ? 1 : 0);
        // Clearing an empty list hands nothing over.
        window->ClearWindow();
        EXPECT_EQ(spy->count(), c.clears ? 1 : 0);
        EXPECT_EQ(window->ContextMenu(), c.clears ? window->ClearPopup
                                         : c.display == "quent" ? window->QuentMenu
                                                                : nullptr);
    }
}

TEST_F(AlertWindowTest, ClearedBoardStartsAgainAtTheFirstCell)
{
    const auto window = MakeWindow("subscription=c\ndisplay=symbol\n");
    window->HandleAlert(Alert("c", "symbol=A"));
    window->HandleAlert(Alert("c", "symbol=B"));
    window->ClearWindow();
    EXPECT_EQ(window->SymbolView->RingPosition(), -1);
    window->HandleAlert(Alert("c", "symbol=C"));
    EXPECT_EQ(window->SymbolView->RingPosition(), 0);
    EXPECT_EQ(window->SymbolRows().size(), 1);
}

TEST_F(AlertWindowTest, RightClickOnTheGridOpensTheWindowsMenu)
{
    const auto clearable = MakeWindow("subscription=c\n");
    const auto plain = MakeWindow("subscription=c\ndisplay=set\n");
    for (TAlertForm* window : {clearable.get(), plain.get()}) {
        window->show();
        QWidget* viewport = window->Grid()->viewport();
        const QPoint inside(10, 30);
        QContextMenuEvent event(QContextMenuEvent::Mouse, inside, viewport->mapToGlobal(inside));
        QApplication::sendEvent(viewport, &event);
    }
    EXPECT_TRUE(clearable->ClearPopup->isVisible());
    EXPECT_FALSE(plain->ClearPopup->isVisible());
    EXPECT_FALSE(plain->QuentMenu->isVisible());
    clearable->ClearPopup->hide();
}

TEST_F(AlertWindowTest, FreezeAndSortNowFollowTheTopList)
{
    const auto window = MakeWindow("subscription=q\ndisplay=quent\n");
    qint64 clock = 1'000'000;
    window->QuentView->SetClock([&clock] { return clock; });
    window->HandleAlert(Alert("q", TopList("A", 8)));
    window->SortNowActionUpdate();
    EXPECT_FALSE(window->SortNowAction->isEnabled());
    EXPECT_EQ(window->SortNowAction->text(), "Sort Now");

    // Eight symbols the screen lacks, inside the 30 seconds.
    window->HandleAlert(Alert("q", "symbol0=I&symbol1=J&symbol2=K&symbol3=L&symbol4=M&symbol5=N&symbol6=O&symbol7=P"));
    window->SortNowActionUpdate();
    EXPECT_TRUE(window->SortNowAction->isEnabled());
    EXPECT_EQ(window->SortNowAction->text(), "Sort Now (I, J, K, L, M and 3 more missing)");

    window->SortNowActionExecute();
    window->SortNowActionUpdate();
    EXPECT_FALSE(window->SortNowAction->isEnabled());
    EXPECT_EQ(window->SortNowAction->text(), "Sort Now");
    EXPECT_EQ(window->QuentView->Displayed().at(0).symbol, "I");

    window->FreezeActionUpdate();
    EXPECT_FALSE(window->FreezeAction->isChecked());
    window->FreezeAction->trigger();
    EXPECT_TRUE(window->QuentView->Frozen());
    EXPECT_TRUE(window->FreezeAction->isChecked());
    window->FreezeAction->trigger();
    EXPECT_FALSE(window->QuentView->Frozen());
    EXPECT_FALSE(window->FreezeAction->isChecked());

    // The expiry timer is the top list's clock: a due list is shown on its
    // tick. (Unfreezing made the next list due at once.)
    window->HandleAlert(Alert("q", TopList("Y", 2)));
    EXPECT_FALSE(window->QuentView->HavePending());
    window->HandleAlert(Alert("q", TopList("Z", 2)));
    EXPECT_TRUE(window->QuentView->HavePending());
    clock += 31'000;
    window->ExpireBollingersTimerTimer();
    EXPECT_FALSE(window->QuentView->HavePending());
    EXPECT_EQ(window->QuentView->Displayed().at(0).symbol, "Z0");
}

// ---------------------------------------------------------------------------
// The main window's list of alert windows

class AlertWindowListTest : public AlertWindowTest {
protected:
    void SetUp() override
    {
        AlertWindowTest::SetUp();
        TestEnvironment::ClearSettings();
    }
    // The main window as the program makes it, and the alert windows it made.
    std::unique_ptr<TMainForm> Start(const QByteArray& ini)
    {
        TestEnvironment::WriteIni(ini);
        const qsizetype before = AllAlertWindows().size();
        auto form = std::make_unique<TMainForm>();
        Made = AllAlertWindows().mid(before);
        return form;
    }
    QList<TAlertForm*> Made;
};

TEST_F(AlertWindowListTest, BadOrNegativeWindowCountsCreateNothing)
{
    for (const QByteArray count : {"x", "-2", "", "1.5"}) {
        const auto form = Start("[General]\nwindow count=" + count + "\n[Alert Window 0]\nsubscription=never\n");
        EXPECT_TRUE(Made.isEmpty()) << count.constData();
        EXPECT_EQ(form->AlertWindowsListBox->count(), 0);
    }
}

// A count nobody could mean is refused as a whole, and the user learns why.
TEST_F(AlertWindowListTest, AnAbsurdWindowCountIsRefusedWithAMessage)
{
    QStringList logged;
    SetDebugSink([&](const QString& line) { logged << line; });
    const auto form = Start("[General]\nwindow count=1000000\n[Alert Window 0]\nsubscription=never\n");
    SetDebugSink(nullptr);
    EXPECT_TRUE(Made.isEmpty());
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].contains("asks for 1000000 alert windows; at most 64")) << logged[0].toStdString();
    QMessageBox* box = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* shown = qobject_cast<QMessageBox*>(window); shown && shown->isVisible())
            box = shown;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), logged[0]);
    box->close();
}

TEST_F(AlertWindowListTest, PlacementsAtTheIntegerLimitsStillLandOnTheMonitor)
{
    {
        TSettingsStore settings;
        for (const char* key : {"Left", "Top", "Width", "Height"})
            settings.WriteInteger("Window:edge", key, INT_MAX);
    }
    const auto form = Start("[General]\nwindow count=1\n[Alert Window 0]\nsubscription=edge\n");
    ASSERT_EQ(Made.size(), 1);
    // As large as a window can be, and on the monitor rather than at the limit.
    EXPECT_EQ(Made[0]->size(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().intersects(Made[0]->frameGeometry()));
    Made[0]->hide();
}

TEST_F(AlertWindowListTest, WindowsAreListedInOrderWithTheAlertFont)
{
    const auto form = Start("[General]\nwindow count=2\nexclude list=1\n"
                            "[Alert Window 0]\nsubscription=a\ntitle=First\n"
                            "[Alert Window 1]\nsubscription=b\ndisplay=set\n");
    ASSERT_EQ(Made.size(), 2);
    EXPECT_EQ(form->AlertWindowsListBox->item(0)->text(), "First");
    EXPECT_EQ(form->AlertWindowsListBox->item(1)->text(), "Alerts");
    EXPECT_EQ(Made[1]->Style(), asBollinger);
    EXPECT_EQ(Made[0]->font(), form->AlertFont());
    EXPECT_FALSE(form->VantorExcludeButton->isHidden());
}

TEST_F(AlertWindowListTest, OneSubscriptionForTwoWindowsIsSentOnceAndFeedsBoth)
{
    const auto form = Start("[General]\nwindow count=2\n"
                            "[Alert Window 0]\nsubscription=twin-sub\nsuffix=1\n"
                            "[Alert Window 1]\nsubscription=twin-sub\nsuffix=2\ndisplay=symbol\n");
    ASSERT_EQ(Made.size(), 2);

    // Log in over a scripted connection and read what the client subscribed to.
    static ScriptedServerConnection* connection = nullptr;
    connection = nullptr;
    MainConnection().SetConnectionFactory(ScriptedServerConnection::FactoryInto(&connection));
    MainConnection().SetUserName("twin-user");
    MainConnection().SetPassword("twin-password");
    ASSERT_TRUE(TestEnvironment::WaitFor([] { return connection != nullptr; }));
    connection->ReportConnected();
    ASSERT_TRUE(TestEnvironment::WaitFor([] { return !connection->Sends().isEmpty(); }));
    WireTestKit::ClientStreamDecoder decoder;
    decoder.Feed(connection->AllSent());
    QByteArrayList categories;
    for (const TMessageToServer& message : decoder.TakeMessages())
        if (WireTestKit::ValueOf(message, "command") == "add_alert_category")
            categories.append(WireTestKit::ValueOf(message, "category"));
    EXPECT_EQ(categories.count("twin-sub"), 1);
    // Back to no credentials: nothing more is sent.
    MainConnection().SetUserName(QByteArray());

    MainConnection().DeliverAlerts(true, Alert("twin-sub", "symbol=X"), {});
    EXPECT_EQ(Made[0]->StrikeRows().size(), 1);
    EXPECT_EQ(Made[1]->SymbolRows().size(), 1);
}

TEST_F(AlertWindowListTest, OneWindowKeySharesOneSectionAndTheLastSavedWins)
{
    {
        TSettingsStore settings;
        settings.WriteInteger("Window:sharedkey", "Left", 50);
        settings.WriteInteger("Window:sharedkey", "Top", 60);
        settings.WriteInteger("Window:sharedkey", "Width", 200);
        settings.WriteInteger("Window:sharedkey", "Height", 150);
    }
    const auto form = Start("[General]\nwindow count=2\n"
                            "[Alert Window 0]\nsubscription=shared\nsuffix=key\n"
                            "[Alert Window 1]\nsubscription=sharedkey\ndisplay=set\n");
    ASSERT_EQ(Made.size(), 2);
    EXPECT_EQ(Made[0]->geometry(), QRect(50, 60, 200, 150));
    EXPECT_EQ(Made[1]->geometry(), QRect(50, 60, 200, 150));

    Made[0]->setGeometry(70, 80, 210, 160);
    Made[1]->setGeometry(90, 100, 220, 170);
    Made[1]->show();
    form->FormDestroy();
    TSettingsStore settings;
    EXPECT_EQ(settings.ReadInteger("Window:sharedkey", "Left", -1), 90);
    EXPECT_EQ(settings.ReadInteger("Window:sharedkey", "Width", -1), 220);
    EXPECT_TRUE(settings.ReadBool("Window:sharedkey", "Visible", false));
    EXPECT_EQ(settings.ReadInteger("Window:sharedkey", "State", -1), 0);
    Made[1]->hide();
}

TEST_F(AlertWindowListTest, MinimisedWindowReopensAtItsNormalBoundsThenMinimises)
{
    const QByteArray ini = "[General]\nwindow count=1\n[Alert Window 0]\nsubscription=mini\n";
    {
        const auto form = Start(ini);
        ASSERT_EQ(Made.size(), 1);
        TAlertForm* window = Made[0];
        // Without a stored section the window keeps its design placement
        // and opens visible.
        EXPECT_EQ(window->geometry(), QRect(36, 36, 393, 480));
        EXPECT_TRUE(window->isVisible());
        window->setGeometry(120, 90, 300, 250);
        window->showMinimized();
        form->FormDestroy();
        window->hide();
    }
    TSettingsStore settings;
    EXPECT_EQ(settings.ReadInteger("Window:mini", "State", -1), 1);
    EXPECT_EQ(settings.ReadInteger("Window:mini", "Left", -1), 120);
    EXPECT_EQ(settings.ReadInteger("Window:mini", "Height", -1), 250);

    const auto form = Start(ini);
    ASSERT_EQ(Made.size(), 1);
    TAlertForm* window = Made[0];
    EXPECT_TRUE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->normalGeometry(), QRect(120, 90, 300, 250));

    // Double-clicking its line shows it restored; without a selection nothing happens.
    form->AlertWindowsListBox->clearSelection();
    form->AlertWindowsListBoxDblClick();
    EXPECT_TRUE(window->isMinimized());
    form->AlertWindowsListBox->setCurrentRow(0);
    form->AlertWindowsListBoxDblClick();
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), QRect(120, 90, 300, 250));
    window->hide();
}

#ifdef TAVISK_SERVER_BIN
// The sample configuration against the reference server: every list style
// receives its category's alerts over the real connection.
TEST_F(AlertWindowListTest, SampleConfigurationFillsEveryStyleFromTheServer)
{
    QFile sample(QStringLiteral(TAVISK_SOURCE_DIR "/examples/Braxo.ini"));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const auto form = Start(sample.readAll());
    ASSERT_EQ(Made.size(), 8);

    ReferenceServerKit::ReferenceServer server(QStringLiteral(TAVISK_SERVER_BIN));
    ASSERT_TRUE(server.Start({"--rate", "20", "--seed", "3"}));
    const QString address = QString::fromUtf8(server.Address());
    MainConnection().SetConnectionFactory([address](TTalkWithServer& talk) {
        talk.ServerAddress = address;
        return CreateServerConnection(talk);
    });
    MainConnection().SetUserName("sample-user");
    MainConnection().SetPassword("sample-password");

    // Every window has shown rows at some moment (Bollinger rows come and go).
    QSet<TAlertForm*> filled;
    const bool allFilled = TestEnvironment::WaitFor(
        [&] {
            for (TAlertForm* window : std::as_const(Made))
                if (window->Grid()->EntryCount() > 0)
                    filled.insert(window);
            return filled.size() == Made.size();
        },
        std::chrono::seconds(30));
    for (TAlertForm* window : std::as_const(Made))
        EXPECT_TRUE(filled.contains(window)) << window->windowTitle().toStdString();
    EXPECT_TRUE(allFilled);

    MainConnection().SetUserName(QByteArray());
    MainConnection().SetConnectionFactory([](TTalkWithServer&) { return std::make_unique<ScriptedServerConnection>(); });
    server.Quit();
}

// A hostile server sends one frame of 45,000 field names that all collide in
// the hash table, a symbol holding markup, and a stream of price spikes. The
// program keeps answering (each ping answer shows a new "Working:" time), and
// closing the main window ends the event loop at once, although a spike waits
// a minute for its sound and spikes keep coming.
TEST_F(AlertWindowListTest, AHostileServerNeitherFreezesNorOutlastsTheProgram)
{
    const auto form = Start("[General]\nwindow count=2\nsound=1\n"
                            "[Alert Window 0]\nsubscription=strike\n"
                            "[Alert Window 1]\nsubscription=quent\ndisplay=quent\ncolumns=0,1\nignore_sort_timer=1\n");
    ASSERT_EQ(Made.size(), 2);
    TFakeSoundPlayer sound;
    form->SetSoundPlayer(&sound);
    bool spikeWaits = false;
    form->SoundDelaySource = [&] {
        spikeWaits = true;
        return 60000;
    };
    SetPriceSpikeSoundHandler([&] { form->PlayPriceSpikeSound(); });
    QStringList logged;
    SetDebugSink([&](const QString& line) { logged << line; });

    const QString categories = QDir(TestEnvironment::WorkDir()).filePath("hostile-categories.txt");
    {
        QFile file(categories);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("strike strike 1\nquent quent 20\n");
    }
    ReferenceServerKit::ReferenceServer server(QStringLiteral(TAVISK_SERVER_BIN));
    ASSERT_TRUE(server.Start({"--categories", categories, "--seed", "5"}));
    const QString address = QString::fromUtf8(server.Address());
    MainConnection().SetConnectionFactory([address](TTalkWithServer& talk) {
        talk.ServerAddress = address;
        return CreateServerConnection(talk);
    });
    // The main connection's own timer is stopped in tests: this one pings.
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [] { MainConnection().Tick(); });
    ticks.start(500);
    MainConnection().SetUserName("hostile-user");
    MainConnection().SetPassword("pw");
    const auto status = [&] { return form->StatusLabel->text(); };
    ASSERT_TRUE(TestEnvironment::WaitFor([&] { return status().startsWith("Working:"); }, std::chrono::seconds(20)))
        << status().toStdString();

    const QByteArray markup = "<a href=\"http://phish.example\">IBM</a>";
    ASSERT_TRUE(server.Control("alert strike symbol=" + markup.toPercentEncoding() + "&last=1"));
    ASSERT_TRUE(server.Control("alert strike " + CollidingFieldNames::FieldLine(45000)));
    const QString before = status();
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return logged.join('\n').contains("an alert was dropped"); },
                                         std::chrono::seconds(20)));
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return status() != before && status().startsWith("Working:"); },
                                         std::chrono::seconds(20)))
        << status().toStdString();
    EXPECT_TRUE(TestEnvironment::WaitFor(
        [&] {
            const auto& rows = Made[0]->StrikeRows();
            return std::any_of(rows.begin(), rows.end(), [&](const TVantorEntry& row) { return row.symbol == markup; });
        },
        std::chrono::seconds(20)));

    // The sound on and spikes from now on; once one waits for its sound, the
    // trader closes the main window, which ends the program as start-up wires
    // it, although two other windows refuse to close (they only hide).
    form->EndProgramOnClose();
    TFakeDataForm fakeData;
    TExternalLinkingWindow linking;
    fakeData.show();
    linking.show();
    ASSERT_TRUE(server.Control("spikes on"));
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!spikeWaits)
            return;
        closer.stop();
        form->close();
    });
    closer.start(50);
    bool gaveUp = false;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&] {
        gaveUp = true;
        QCoreApplication::exit(1);
    });
    bound.start(120000);
    // Only now: a spike that waited inside one of the test's own waits would not see the closer.
    form->PriceSpikeSoundCheckBox->setChecked(true);
    QApplication::exec();
    SetPriceSpikeSoundHandler({});
    EXPECT_TRUE(spikeWaits);
    EXPECT_FALSE(gaveUp);
    EXPECT_EQ(sound.Beeps, 0) << "the waiting spike never sounds once the program ends";

    ticks.stop();
    SetDebugSink(nullptr);
    for (TAlertForm* window : std::as_const(Made))
        window->hide();
    MainConnection().SetUserName(QByteArray());
    MainConnection().SetConnectionFactory([](TTalkWithServer&) { return std::make_unique<ScriptedServerConnection>(); });
    server.Quit();
}
#endif

// ---------------------------------------------------------------------------
// The exclude list form

// Edits the memo and presses a button once the dialog runs.
void WhenModal(const QString& memoText, bool update)
{
    QTimer::singleShot(0, [memoText, update] {
        auto* form = qobject_cast<TVantorExcludeForm*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        form->SymbolsMemo->setPlainText(memoText);
        (update ? form->OKButton : form->CancelButton)->click();
    });
}

TEST_F(AlertWindowTest, ExcludeFormCancelKeepsTheListAndUpdateCleansIt)
{
    TVantorExcludeForm form;
    EXPECT_EQ(form.windowTitle(), "Vantor Exclude");
    EXPECT_EQ(form.OKButton->text(), "Update");
    EXPECT_TRUE(form.OKButton->isDefault());

    WhenModal("abc\nABC\n\n  \nXYZ\n", true);
    form.EditExcludeList();
    EXPECT_EQ(ExcludeList().Items(), (QList<QByteArray>{"  ", "abc", "XYZ"}));
    EXPECT_EQ(form.SymbolsMemo->toPlainText(), "  \nabc\nXYZ");

    WhenModal("QQQ", false);
    form.EditExcludeList();
    EXPECT_EQ(ExcludeList().Items(), (QList<QByteArray>{"  ", "abc", "XYZ"}));
    EXPECT_EQ(form.SymbolsMemo->toPlainText(), "  \nabc\nXYZ");

    WhenModal("", true);
    form.EditExcludeList();
    EXPECT_EQ(ExcludeList().Count(), 0);
    EXPECT_TRUE(form.SymbolsMemo->toPlainText().isEmpty());
}

TEST_F(AlertWindowListTest, VantorButtonEditsTheListThatStrikeWindowsRead)
{
    const auto form = Start("[General]\nwindow count=1\n[Alert Window 0]\nsubscription=vx\n");
    ASSERT_EQ(Made.size(), 1);
    WhenModal("msft\n", true);
    form->VantorButtonClick();
    EXPECT_TRUE(ExcludeList().Contains("MSFT"));
    Made[0]->HandleAlert(Alert("vx", "symbol=MSFT"));
    EXPECT_TRUE(Made[0]->StrikeRows().isEmpty());
}

} // namespace
