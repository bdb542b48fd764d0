// Alert windows end to end: settings, filtering, every list style's rows as
// the grid receives them, expiry, the commands and their menus; the main
// window's list of alert windows with their placements; the exclude list form.
#include "CollidingFieldNames.h"
#include "GuiTestParts.h"
#include "LocalMainConnection.h"
#include "ReferenceServer.h"
#include "ScriptedServerConnection.h"
#include "TestEnvironment.h"
#include "WireTestKit.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/ExcludeList.h"
#include "Zembra/QuentGridFull.h"
#include "grids/BollingerGrid.h"
#include "grids/DravelGrid.h"
#include "grids/FerrikGrid.h"
#include "grids/PointsTopListGrid.h"
#include "grids/SymbolOnlyGrid.h"
#include "grids/VantorGrid.h"
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
#include <QTextDocument>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <typeinfo>

namespace {

QByteArray Alert(const QByteArray& category, const QByteArray& fields)
{
    return category + "\r\n" + fields;
}

// Counts the grid's SetEntries calls: each one invalidates the whole grid once.
std::unique_ptr<QSignalSpy> SetEntriesSpy(const TAlertForm& window)
{
    return std::make_unique<QSignalSpy>(window.Grid()->model(), &QAbstractItemModel::dataChanged);
}

// The hand-offs that wait for the next pass of the event loop, done now.
void NextPass() { QCoreApplication::sendPostedEvents(); }

const TVantorEntries& StrikeRows(const TAlertForm& window)
{
    return dynamic_cast<const TVantorRows&>(*window.Rows()).Rows();
}

class AlertWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TMainConnectionDependencies hooks;
        hooks.ConnectionFactory = [this](TTalkWithServer& talk) {
            return Factory ? Factory(talk) : std::make_unique<ScriptedServerConnection>(talk.Settings());
        };
        Connection = MakeLocalMainConnection(hooks);
    }
    // A window of the fixture's connection unless another source is named.
    std::unique_ptr<TAlertForm> MakeWindow(const QByteArray& sectionBody, TMainConnection* source = nullptr)
    {
        const TIniFile ini = TIniFile::FromText("[Alert Window 3]\n" + sectionBody);
        auto window = std::make_unique<TAlertForm>(parts.AlertWindowParts(source ? *source : *Connection));
        window->LoadSettings(ini, "Alert Window 3");
        return window;
    }
    // The connections the main connection makes from now on; none: scripted ones.
    TTalkWithServer::TConnectionFactory Factory;
    std::unique_ptr<TMainConnection> Connection;
    GuiTestParts parts;
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
    auto* strikeGrid = dynamic_cast<TVantorGrid*>(strike->Grid());
    ASSERT_NE(strikeGrid, nullptr);
    EXPECT_EQ(strikeGrid->TextColor(), 0x00FFFFu);
    EXPECT_EQ(strikeGrid->ExtraColumnName(), "SMA");
    EXPECT_EQ(strikeGrid->ExtraColumnFormat(), "I");
    EXPECT_EQ(strike->ExtraColumnKey(), "sma_divergence");
    const auto spread = MakeWindow("subscription=s\nextra_column_internal_name=spread\n");
    spread->HandleAlert(Alert("s", "symbol=A&sma_divergence=1.5&spread=-0.25"));
    EXPECT_EQ(StrikeRows(*spread).at(0).extra, -0.25);

    const auto bands = MakeWindow("subscription=b\ntitle=Bands\ndisplay=set\nextra=Dist\ncolor=255\n");
    EXPECT_EQ(bands->Style(), asBollinger);
    EXPECT_EQ(bands->windowTitle(), "Bands");
    auto* bandsGrid = dynamic_cast<TBollingerGrid*>(bands->Grid());
    ASSERT_NE(bandsGrid, nullptr);
    EXPECT_EQ(bandsGrid->BandLabel(), "Dist");
    EXPECT_EQ(dynamic_cast<TBollingerGrid&>(*MakeWindow("display=set\n")->Grid()).BandLabel(), "BBand");

    const auto points = MakeWindow("display=pointslist\nvolume=1\ncolor=bad\n");
    ASSERT_NE(dynamic_cast<TPointsTopListGrid*>(points->Grid()), nullptr);
    EXPECT_EQ(points->Grid()->ColCount(), 4);
    EXPECT_EQ(points->Grid()->TextColor(), 0xFFFFFFu);
    // The volume column belongs to the points list only.
    const auto simple = MakeWindow("display=simplelist\nvolume=1\n");
    EXPECT_NE(dynamic_cast<TPointsTopListGrid*>(simple->Grid()), nullptr);
    EXPECT_EQ(simple->Grid()->ColCount(), 3);

    const auto quent = MakeWindow("display=quent\ncolumns=0,11,12\nignore_sort_timer=1\n");
    auto* topList = quent->TopListGrid();
    ASSERT_NE(topList, nullptr);
    EXPECT_EQ(topList, quent->Grid());
    EXPECT_EQ(topList->Columns(), (QVector<int>{0, 11, 12}));
    EXPECT_TRUE(topList->IgnoreSortTimer());
    EXPECT_FALSE(MakeWindow("display=quent\nignore_sort_timer=yes\n")->TopListGrid()->IgnoreSortTimer());
    EXPECT_EQ(strike->TopListGrid(), nullptr);

    EXPECT_NE(dynamic_cast<TFerrikGrid*>(MakeWindow("display=ferrik-simplelist\n")->Grid()), nullptr);
    EXPECT_NE(dynamic_cast<TDravelGrid*>(MakeWindow("display=dravel-simplelist\n")->Grid()), nullptr);
    EXPECT_NE(dynamic_cast<TSymbolOnlyGrid*>(MakeWindow("display=symbol\n")->Grid()), nullptr);
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
    // Hidden windows keep receiving alerts.
    window->HandleAlert(Alert("strike", "symbol=A"));
    EXPECT_EQ(StrikeRows(*window).size(), 1);
}

// ---------------------------------------------------------------------------
// Alerts and their hand-off to the grid

TEST_F(AlertWindowTest, TheAlertsOfOnePassReachTheGridInOneHandOff)
{
    // Delivered through the window's own alert source like server alerts.
    const std::unique_ptr<TMainConnection> own = MakeLocalMainConnection();
    TMainConnection& source = *own;
    const auto window = MakeWindow("subscription=strike\n", &source);
    const auto spy = SetEntriesSpy(*window);
    for (const QByteArray symbol : {"A", "B", "C"})
        source.DeliverAlerts(true, Alert("strike", "symbol=" + symbol), {});
    source.DeliverAlerts(true, Alert("other", "symbol=X"), {});
    Connection->DeliverAlerts(true, Alert("strike", "symbol=Z"), {});
    EXPECT_EQ(StrikeRows(*window).size(), 3);
    EXPECT_EQ(window->Grid()->EntryCount(), 0) << "handed over on the next pass";
    NextPass();
    EXPECT_EQ(window->Grid()->EntryCount(), 3);
    EXPECT_EQ(window->Grid()->CellText(0, 1), "C");
    EXPECT_EQ(spy->count(), 1);
    NextPass();
    EXPECT_EQ(spy->count(), 1) << "nothing new, nothing handed over";

    // A top list goes to its grid as it comes: each list may decide when the order changes.
    const auto quent = MakeWindow("subscription=q\ndisplay=quent\n");
    quent->HandleAlert(Alert("q", "symbol0=A&symbol1=B"));
    EXPECT_EQ(quent->TopListGrid()->Pending().size(), 2);
}

TEST_F(AlertWindowTest, AWindowWithoutSettingsShowsNothingAndDoesNotFail)
{
    TAlertForm window(parts.AlertWindowParts(*Connection));
    window.HandleAlert("\r\nsymbol=A");
    window.ExpireBollingersTimerTimer();
    window.ClearWindow();
    EXPECT_EQ(window.Grid(), nullptr);
    EXPECT_EQ(window.Rows(), nullptr);
}

TEST_F(AlertWindowTest, TheTimerExpiresBollingerRowsEverySecond)
{
    const auto window = MakeWindow("subscription=bb\ndisplay=set\n");
    EXPECT_TRUE(window->ExpireBollingersTimer->isActive());
    EXPECT_EQ(window->ExpireBollingersTimer->interval(), 1000);
    QDateTime now(QDate(2026, 3, 2), QTime(9, 30), Qt::UTC);
    window->SetClock([&now] { return now; });
    window->HandleAlert(Alert("bb", "action=add&symbol=OLD&dist_from_bb=1"));
    NextPass();
    EXPECT_EQ(window->Grid()->EntryCount(), 1);
    now = now.addSecs(120);
    window->ExpireBollingersTimerTimer();
    NextPass();
    EXPECT_EQ(window->Grid()->EntryCount(), 0);
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
        const auto window = MakeWindow("subscription=c\ntitle=T\nnotify=1\ndisplay=" + c.display + "\n");
        QStringList reports;
        QObject context;
        QObject::connect(&parts.Notices, &TAlertNotices::NewRows, &context,
                         [&](const QString& title, const QByteArray& symbol, const QString& values, int alerts, bool) {
                             reports << QStringLiteral("%1 %2 %3: %4").arg(title).arg(alerts).arg(symbol, values);
                         });
        // The window binds its grid to the rows the session's table makes for the style.
        EXPECT_EQ(typeid(*window->Rows()), typeid(*MakeAlertRows(window->Style(), {"c"})));
        window->HandleAlert(Alert("c", one));
        NextPass();
        ASSERT_EQ(window->Grid()->EntryCount(), 1);
        const auto spy = SetEntriesSpy(*window);
        window->ClearWindowMenuItemClick();
        EXPECT_EQ(window->Grid()->EntryCount(), c.clears ? 0 : 1);
        EXPECT_EQ(spy->count(), c.clears ? 1 : 0);
        // Clearing an empty list hands nothing over.
        window->ClearWindow();
        NextPass();
        EXPECT_EQ(spy->count(), c.clears ? 1 : 0);
        EXPECT_EQ(window->ContextMenu(), c.clears ? window->ClearPopup
                                         : c.display == "quent" ? window->QuentMenu
                                                                : window->NotifyPopup);
        EXPECT_TRUE(window->ContextMenu()->actions().contains(window->NotifyAction));
        // A new row is reported with what the grid shows beside its symbol;
        // a whole list reports a symbol it did not hold, the top list only spikes.
        window->HandleAlert(Alert("c", one));
        window->HandleAlert(Alert("c", one));
        NextPass();
        const bool wholeList = c.display == "pointslist" || c.display == "quent";
        EXPECT_EQ(reports.size(), c.display == "quent" ? 0 : wholeList ? 1 : 2) << reports.join('\n').toStdString();
        if (!wholeList) {
            EXPECT_EQ(reports.last(), "T 2 A: " + window->Grid()->ValuesBeside("A"));
        }
        if (c.display.isEmpty()) {
            EXPECT_EQ(reports.last(), "T 2 A: 1.00");
        }
        window->SetNotifying(false);
        window->HandleAlert(Alert("c", one));
        NextPass();
        EXPECT_EQ(reports.size(), c.display == "quent" ? 0 : wholeList ? 1 : 2);
    }
}

TEST_F(AlertWindowTest, TheBoardMovesOneCellPerAlertAndAClearedBoardStartsAgain)
{
    const auto window = MakeWindow("subscription=c\ndisplay=symbol\n");
    auto* board = dynamic_cast<TSymbolOnlyGrid*>(window->Grid());
    ASSERT_NE(board, nullptr);
    window->show();
    NextPass();
    ASSERT_GE(board->Capacity(), 5);
    window->HandleAlert(Alert("c", "symbol=A"));
    NextPass();
    EXPECT_EQ(board->RingPosition(), 0);
    for (const QByteArray symbol : {"B", "C", "D"})
        window->HandleAlert(Alert("c", "symbol=" + symbol));
    NextPass();
    EXPECT_EQ(board->RingPosition(), 3);
    int index = -1;
    ASSERT_TRUE(board->CellToEntry(0, 4, index));
    EXPECT_EQ(index, 0) << "the newest in the fourth cell, as if handed over one by one";

    // An alert still waiting for its hand-off is cleared with the rest.
    window->HandleAlert(Alert("c", "symbol=X"));
    window->ClearWindow();
    NextPass();
    EXPECT_EQ(board->EntryCount(), 0);
    EXPECT_EQ(board->RingPosition(), -1);
    window->HandleAlert(Alert("c", "symbol=E"));
    NextPass();
    EXPECT_EQ(board->RingPosition(), 0);
    window->hide();
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

QByteArray TopList(const QByteArray& prefix, int rows)
{
    QByteArrayList fields;
    for (int n = 0; n < rows; ++n)
        fields << "symbol" + QByteArray::number(n) + "=" + prefix + QByteArray::number(n);
    return fields.join('&');
}

TEST_F(AlertWindowTest, FreezeAndSortNowFollowTheTopList)
{
    const auto window = MakeWindow("subscription=q\ndisplay=quent\n");
    auto* grid = window->TopListGrid();
    qint64 clock = 1'000'000;
    grid->SetClock([&clock] { return clock; });
    window->HandleAlert(Alert("q", TopList("A", 8)));
    window->SortNowActionUpdate();
    EXPECT_FALSE(window->SortNowAction->isEnabled());
    EXPECT_EQ(window->SortNowAction->text(), "Sort Now");

    // Eight symbols the screen lacks, inside the 30 seconds; the menu shows
    // the server's "&" as it is (iconText is the caption as shown).
    window->HandleAlert(Alert("q", "symbol0=I%26Co&symbol1=J&symbol2=K&symbol3=L&symbol4=M&symbol5=N&symbol6=O&symbol7=P"));
    window->SortNowActionUpdate();
    EXPECT_TRUE(window->SortNowAction->isEnabled());
    EXPECT_EQ(window->SortNowAction->iconText(), "Sort Now (I&Co, J, K, L, M and 3 more missing)");

    window->SortNowActionExecute();
    window->SortNowActionUpdate();
    EXPECT_FALSE(window->SortNowAction->isEnabled());
    EXPECT_EQ(window->SortNowAction->text(), "Sort Now");
    EXPECT_EQ(grid->Displayed().at(0).symbol, "I&Co");

    window->FreezeActionUpdate();
    EXPECT_FALSE(window->FreezeAction->isChecked());
    window->FreezeAction->trigger();
    EXPECT_TRUE(grid->Frozen());
    EXPECT_TRUE(window->FreezeAction->isChecked());
    window->FreezeAction->trigger();
    EXPECT_FALSE(grid->Frozen());
    EXPECT_FALSE(window->FreezeAction->isChecked());

    // The expiry timer is the top list's clock: a due list is shown on its
    // tick. (Unfreezing made the next list due at once.)
    window->HandleAlert(Alert("q", TopList("Y", 2)));
    EXPECT_FALSE(grid->HavePending());
    window->HandleAlert(Alert("q", TopList("Z", 2)));
    EXPECT_TRUE(grid->HavePending());
    clock += 31'000;
    window->ExpireBollingersTimerTimer();
    EXPECT_FALSE(grid->HavePending());
    EXPECT_EQ(grid->Displayed().at(0).symbol, "Z0");
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
        auto form = std::make_unique<TMainForm>(*Connection, parts.MainFormParts());
        Made = form->AlertWindows();
        return form;
    }
    // Logs in over a scripted connection; returns it once the login is out.
    ScriptedServerConnection* LogInOverAScriptedConnection(const QByteArray& user)
    {
        static ScriptedServerConnection* connection = nullptr;
        connection = nullptr;
        Factory = ScriptedServerConnection::FactoryInto(&connection);
        Connection->SetUserName(user);
        Connection->SetPassword(user + "-password");
        EXPECT_TRUE(TestEnvironment::WaitFor([] { return connection != nullptr; }));
        if (!connection)
            return nullptr;
        connection->ReportConnected();
        EXPECT_TRUE(TestEnvironment::WaitFor([] { return !connection->Sends().isEmpty(); }));
        return connection;
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
    auto debugSink = std::make_unique<TDebugSinkScope>([&](const QString& line) { logged << line; });
    const auto form = Start("[General]\nwindow count=1000000\n[Alert Window 0]\nsubscription=never\n");
    debugSink.reset();
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
    // Nothing stored: they open one beside or below the other, not stacked.
    EXPECT_NE(Made[0]->pos(), Made[1]->pos());
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(Made[1]->frameGeometry()));
}

TEST_F(AlertWindowListTest, OneSubscriptionForTwoWindowsIsSentOnceAndFeedsBoth)
{
    const auto form = Start("[General]\nwindow count=2\n"
                            "[Alert Window 0]\nsubscription=twin-sub\nsuffix=1\n"
                            "[Alert Window 1]\nsubscription=twin-sub\nsuffix=2\ndisplay=symbol\n");
    ASSERT_EQ(Made.size(), 2);

    // Log in over a scripted connection and read what the client subscribed to.
    ScriptedServerConnection* const connection = LogInOverAScriptedConnection("twin-user");
    ASSERT_NE(connection, nullptr);
    WireTestKit::ClientStreamDecoder decoder;
    decoder.Feed(connection->AllSent());
    QByteArrayList categories;
    for (const TMessageToServer& message : decoder.TakeMessages())
        if (WireTestKit::ValueOf(message, "command") == "add_alert_category")
            categories.append(WireTestKit::ValueOf(message, "category"));
    EXPECT_EQ(categories.count("twin-sub"), 1);
    // Back to no credentials: nothing more is sent.
    Connection->SetUserName(QByteArray());

    Connection->DeliverAlerts(true, Alert("twin-sub", "symbol=X"), {});
    EXPECT_EQ(StrikeRows(*Made[0]).size(), 1);
    EXPECT_EQ(StrikeRows(*Made[1]).size(), 1);
}

// The text a tooltip shows: Qt renders a text that looks like markup as markup.
QString ToolTipAsShown(const QString& tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

// A server's STOP reason is text: shaped like markup, it must not paint a
// picture the size of the screen as the status line's tooltip.
TEST_F(AlertWindowListTest, AStopReasonThatLooksLikeMarkupStaysText)
{
    const auto form = Start("[General]\n");
    ScriptedServerConnection* const connection = LogInOverAScriptedConnection("markup-user");
    ASSERT_NE(connection, nullptr);
    const QString reason = "<img width=1600 height=900 src='x'><b>Session moved</b>";
    WireTestKit::ServerStreamEncoder server;
    connection->Deliver(server.FrameBurst(1, "STOP\r\n" + reason.toUtf8()));
    EXPECT_EQ(form->StatusLabel->text(), reason);
    EXPECT_EQ(ToolTipAsShown(form->StatusLabel->toolTip()), reason);
    Connection->SetUserName(QByteArray());
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
        // Without a stored section the window keeps its design size and
        // opens visible.
        EXPECT_EQ(window->size(), QSize(393, 480));
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
    Factory = ConnectionsTo(address);
    Connection->SetUserName("sample-user");
    Connection->SetPassword("sample-password");

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

    Connection->SetUserName(QByteArray());
    server.Quit();
}

// A hostile server sends one frame of 45,000 field names that would all
// collide in a hash table of fields (the alert still shows), a symbol
// holding markup, and a stream of price spikes. The program keeps answering
// (each ping answer shows a new "Working:" time), and closing the main window
// ends the event loop at once, although a spike waits a minute for its sound
// and spikes keep coming.
TEST_F(AlertWindowListTest, AHostileServerNeitherFreezesNorOutlastsTheProgram)
{
    const auto form = Start("[General]\nwindow count=2\nsound=1\n"
                            "[Alert Window 0]\nsubscription=strike\n"
                            "[Alert Window 1]\nsubscription=quent\ndisplay=quent\ncolumns=0,1\nignore_sort_timer=1\n");
    ASSERT_EQ(Made.size(), 2);
    bool spikeWaits = false;
    form->SoundDelaySource = [&] {
        spikeWaits = true;
        return 60000;
    };
    QObject::connect(&parts.PriceSpikeSound, &TPriceSpikeSound::Requested, form.get(), &TMainForm::PlayPriceSpikeSound);
    auto debugSink = std::make_unique<TDebugSinkScope>([](const QString&) {});

    const QString categories = QDir(TestEnvironment::WorkDir()).filePath("hostile-categories.txt");
    {
        QFile file(categories);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("strike strike 1\nquent quent 20\n");
    }
    ReferenceServerKit::ReferenceServer server(QStringLiteral(TAVISK_SERVER_BIN));
    ASSERT_TRUE(server.Start({"--categories", categories, "--seed", "5"}));
    const QString address = QString::fromUtf8(server.Address());
    Factory = ConnectionsTo(address);
    // The main connection's own timer is stopped in tests: this one pings.
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [this] { Connection->Tick(); });
    ticks.start(500);
    Connection->SetUserName("hostile-user");
    Connection->SetPassword("pw");
    const auto status = [&] { return form->StatusLabel->text(); };
    ASSERT_TRUE(TestEnvironment::WaitFor([&] { return status().startsWith("Working:"); }, std::chrono::seconds(20)))
        << status().toStdString();

    const QByteArray markup = "<a href=\"http://phish.example\">IBM</a>";
    ASSERT_TRUE(server.Control("alert strike symbol=" + markup.toPercentEncoding() + "&last=1"));
    ASSERT_TRUE(server.Control("alert strike " + CollidingFieldNames::FieldLine(45000) + "&symbol=HOSTILE"));
    const QString before = status();
    const auto shows = [&](const QByteArray& symbol) {
        const auto& rows = StrikeRows(*Made[0]);
        return std::any_of(rows.begin(), rows.end(), [&](const TVantorEntry& row) { return row.symbol == symbol; });
    };
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return shows("HOSTILE"); }, std::chrono::seconds(20)));
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return status() != before && status().startsWith("Working:"); },
                                         std::chrono::seconds(20)))
        << status().toStdString();
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return shows(markup); }, std::chrono::seconds(20)));

    // The sound on and spikes from now on; once one waits for its sound, the
    // trader closes the main window, which ends the program as start-up wires
    // it, although two other windows refuse to close (they only hide).
    form->EndProgramOnClose();
    TFakeDataForm fakeData(*Connection, parts.Config.Path());
    TExternalLinkingWindow linking(parts.SymbolLinks);
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
    EXPECT_TRUE(spikeWaits);
    EXPECT_FALSE(gaveUp);
    EXPECT_EQ(parts.Sound.Beeps, 0) << "the waiting spike never sounds once the program ends";

    ticks.stop();
    debugSink.reset();
    for (TAlertForm* window : std::as_const(Made))
        window->hide();
    Connection->SetUserName(QByteArray());
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
    TVantorExcludeForm form(parts.ExcludeList);
    EXPECT_EQ(form.windowTitle(), "Vantor Exclude");
    EXPECT_EQ(form.OKButton->text(), "Update");
    EXPECT_TRUE(form.OKButton->isDefault());

    WhenModal("abc\nABC\n\n  \nXYZ\n", true);
    form.EditExcludeList();
    EXPECT_EQ(parts.ExcludeList.Items(), (QList<QByteArray>{"  ", "abc", "XYZ"}));
    EXPECT_EQ(form.SymbolsMemo->toPlainText(), "  \nabc\nXYZ");

    WhenModal("QQQ", false);
    form.EditExcludeList();
    EXPECT_EQ(parts.ExcludeList.Items(), (QList<QByteArray>{"  ", "abc", "XYZ"}));
    EXPECT_EQ(form.SymbolsMemo->toPlainText(), "  \nabc\nXYZ");

    WhenModal("", true);
    form.EditExcludeList();
    EXPECT_EQ(parts.ExcludeList.Count(), 0);
    EXPECT_TRUE(form.SymbolsMemo->toPlainText().isEmpty());
}

TEST_F(AlertWindowListTest, VantorButtonEditsTheListThatStrikeWindowsRead)
{
    const auto form = Start("[General]\nwindow count=1\n[Alert Window 0]\nsubscription=vx\n");
    ASSERT_EQ(Made.size(), 1);
    WhenModal("msft\n", true);
    form->VantorButtonClick();
    EXPECT_TRUE(parts.ExcludeList.Contains("MSFT"));
    Made[0]->HandleAlert(Alert("vx", "symbol=MSFT"));
    EXPECT_TRUE(StrikeRows(*Made[0]).isEmpty());
}

} // namespace
