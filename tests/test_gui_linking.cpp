// External linking: what in a grid links a symbol (only the trader's own
// pick), the window's order of calls to its connector, when it shows itself,
// the built-in connector's links and its refusal of symbols that another
// program could misread, and the client on a session bus of the test's own:
// its links, status and windows as other programs see them, and its
// notifications as dunst shows them.
#include "DesktopServices.h"
#include "GuiGridProbe.h"
#include "GuiTestParts.h"
#include "LocalMainConnection.h"
#include "TestEnvironment.h"
#include "Zembra/QuentGridFull.h"
#include "grids/BollingerGrid.h"
#include "grids/DravelGrid.h"
#include "grids/FerrikGrid.h"
#include "grids/PointsTopListGrid.h"
#include "grids/SymbolOnlyGrid.h"
#include "grids/VantorGrid.h"
#include "platform/core/DesktopBus.h"
#include "platform/core/SettingsStore.h"
#include "platform/gui/Connector.h"
#include "shell/AlertNotifications.h"
#include "shell/DesktopBusWiring.h"
#include "shell/ExternalLinkingWindowUnit.h"
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <type_traits>

namespace {

// ---------------------------------------------------------------------------
// What links from a grid

// Every grid style, filled with the symbols AAA, BBB and CCC.
template <typename TGrid, typename TList>
TDrawGrid* FilledGrid(QWidget* owner, GuiTestParts& parts)
{
    TGrid* grid = nullptr;
    if constexpr (std::is_same_v<TGrid, TQuentTopListFullGrid>)
        grid = new TGrid(owner, parts.SymbolLinks, parts.PriceSpikeSound);
    else
        grid = new TGrid(owner, parts.SymbolLinks);
    TList list;
    for (const char* symbol : {"CCC", "BBB", "AAA"}) {
        typename TList::value_type entry;
        entry.symbol = symbol;
        if constexpr (requires { list.PushFront(entry); })
            list.PushFront(entry);
        else
            list.prepend(entry);
    }
    grid->SetEntries(list);
    return grid;
}

struct TGridStyle {
    const char* Name;
    TDrawGrid* (*Make)(QWidget* owner, GuiTestParts& parts);
};

const TGridStyle GridStyles[] = {
    {"ferrik", FilledGrid<TFerrikGrid, TFerrikEntries>},
    {"dravel", FilledGrid<TDravelGrid, TDravelEntries>},
    {"strike", FilledGrid<TVantorGrid, TVantorEntries>},
    {"symbol", FilledGrid<TSymbolOnlyGrid, TVantorEntries>},
    {"bollinger", FilledGrid<TBollingerGrid, TBollingerEntries>},
    {"points", FilledGrid<TPointsTopListGrid, TPointsTopListEntries>},
    {"quent", FilledGrid<TQuentTopListFullGrid, TQuentTopListEntries>},
};

int SymbolColumn(TDrawGrid& grid)
{
    for (int column = 0; column < grid.ColCount(); ++column)
        if (GridProbe::DisplayText(grid, column, 0) == "Symbol")
            return column;
    return -1;
}

// Takes the active window away and gives it back: the grid, the window's
// focus widget, gets the focus back as a window manager hands it over.
void ReactivateWindowOf(QWidget& grid)
{
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QApplication::setActiveWindow(grid.window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid.window()));
    ASSERT_TRUE(grid.hasFocus());
}

TEST(GridLinking, OnlyALeftClickOrAnArrowKeyLinksASymbolInAnyGrid)
{
    for (const TGridStyle& style : GridStyles) {
        SCOPED_TRACE(style.Name);
        GuiTestParts parts;
        auto owner = GridProbe::MakeOwner(640, 200);
        TDrawGrid* grid = style.Make(owner.get(), parts);
        GridProbe::LinkRecorder links(parts.SymbolLinks);
        GridProbe::Show(*owner, *grid);
        QApplication::setActiveWindow(owner.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(owner.get()));
        const int column = SymbolColumn(*grid);
        ASSERT_GE(column, 0);

        grid->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(grid->hasFocus());
        grid->clearFocus();
        grid->setFocus(Qt::OtherFocusReason);
        ReactivateWindowOf(*grid);
        QTest::keyClick(grid, Qt::Key_B); // no type-ahead either
        GridProbe::Click(*grid, column, 2, Qt::RightButton);
        GridProbe::Click(*grid, column, 3, Qt::MiddleButton);
        EXPECT_TRUE(links.Symbols.isEmpty());
        EXPECT_FALSE(grid->currentIndex().isValid()) << "nothing was picked, so no row is current";

        const QByteArray clicked = GridProbe::DisplayText(*grid, column, 2).toUtf8();
        GridProbe::Click(*grid, column, 2);
        EXPECT_EQ(links.Symbols, QList<QByteArray>{clicked});
        // The other buttons leave the picked row where it is.
        GridProbe::Click(*grid, column, 3, Qt::RightButton);
        ReactivateWindowOf(*grid);
        EXPECT_EQ(grid->currentIndex().row(), 1);
        EXPECT_EQ(links.Symbols, QList<QByteArray>{clicked});
    }
}

// Holding an arrow key in the top list passes over many rows; only the row
// where the keys rest is linked (a single key press still links at once).
TEST(GridLinking, HeldArrowKeysInTheTopListLinkOnlyWhereTheyRest)
{
    GuiTestParts parts;
    auto owner = GridProbe::MakeOwner(640, 400);
    auto* grid = new TQuentTopListFullGrid(owner.get(), parts.SymbolLinks, parts.PriceSpikeSound);
    TQuentTopListEntries list;
    for (int n = 0; n < 12; ++n) {
        TQuentTopListEntry entry;
        entry.symbol = "S" + QByteArray::number(n);
        list.append(entry);
    }
    grid->SetEntries(list);
    GridProbe::LinkRecorder links(parts.SymbolLinks);
    GridProbe::Show(*owner, *grid);
    QApplication::setActiveWindow(owner.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(owner.get()));
    const int column = SymbolColumn(*grid);
    GridProbe::Click(*grid, column, 1);
    ASSERT_EQ(links.Symbols, QList<QByteArray>{"S0"});

    for (int held = 0; held < 8; ++held) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(grid, &repeat);
    }
    EXPECT_EQ(grid->SelectedSymbol(), "S8");
    EXPECT_EQ(links.Symbols, QList<QByteArray>{"S0"}) << "nothing is linked while the keys move on";
    ASSERT_TRUE(TestEnvironment::WaitFor([&] { return links.Symbols.size() == 2; }));
    EXPECT_EQ(links.Symbols.constLast(), "S8");

    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(links.Symbols.constLast(), "S9");
    EXPECT_EQ(links.Symbols.size(), 3);
}

// A connector that writes down every call the window makes.
class TRecordingConnector : public TConnector {
public:
    explicit TRecordingConnector(QStringList& calls) : m_calls(calls) {}
    void SetSymbol(const QString& symbol) override { m_calls << "Symbol=" + symbol; }
    void ApplySymbol() override
    {
        m_calls << "ApplySymbol";
        if (FailApply)
            throw EConnectorError("link failed");
    }
    qint32 LinkState() const override
    {
        m_calls << "LinkState";
        return State;
    }
    QWidget* View() override { return &m_view; }

    qint32 State = 0;
    bool FailApply = false;

private:
    QStringList& m_calls;
    QWidget m_view;
};

class LinkingWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<TRecordingConnector>(calls);
        connector = owned.get();
        window = std::make_unique<TExternalLinkingWindow>(std::move(owned));
    }
    QStringList calls;
    TRecordingConnector* connector = nullptr;
    std::unique_ptr<TExternalLinkingWindow> window;
};

TEST_F(LinkingWindowTest, DesignAndClosingOnlyHides)
{
    EXPECT_EQ(window->windowTitle(), "External Linking Window");
    EXPECT_EQ(window->size(), QSize(443, 440));
    EXPECT_TRUE(window->isHidden());
    window->ShowLinkingWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isHidden());
    // The connector's view fills the window.
    EXPECT_EQ(connector->View()->parentWidget(), window.get());
}

TEST_F(LinkingWindowTest, LinkSymbolSetsAppliesThenReadsTheState)
{
    connector->State = 1;
    window->LinkSymbol("IBM");
    window->LinkSymbol("IBM");
    // The client keeps no state between clicks: each one goes through in full.
    EXPECT_EQ(calls, (QStringList{"Symbol=IBM", "ApplySymbol", "LinkState", "Symbol=IBM", "ApplySymbol", "LinkState"}));
    // A link is set up: the window stays as it was.
    EXPECT_TRUE(window->isHidden());
}

TEST_F(LinkingWindowTest, NoLinkShowsTheWindowAndRestoresItWhenMinimised)
{
    connector->State = 0;
    window->LinkSymbol("AAPL");
    EXPECT_TRUE(window->isVisible());

    window->showMinimized();
    ASSERT_TRUE(window->isMinimized());
    window->LinkSymbol("AAPL");
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(LinkingWindowTest, AFailureIsRaisedAndTheWindowLeftAlone)
{
    connector->FailApply = true;
    EXPECT_THROW(window->LinkSymbol("MSFT"), EConnectorError);
    EXPECT_EQ(calls, (QStringList{"Symbol=MSFT", "ApplySymbol"}));
    EXPECT_TRUE(window->isHidden());
}

TEST_F(LinkingWindowTest, EightBitSymbolsArriveConvertedThroughTheLocalCodePage)
{
    connector->State = 1;
    const QString symbol = QString::fromUtf8("NESN\xC3\x89");
    window->LinkSymbol(symbol.toLocal8Bit());
    EXPECT_EQ(calls.first(), "Symbol=" + symbol);
}

TEST(LinkingWindowWithoutConnectorTest, ForwardingDoesNothing)
{
    TExternalLinkingWindow window(std::unique_ptr<TConnector>{});
    EXPECT_NO_THROW(window.LinkSymbol("IBM"));
    EXPECT_TRUE(window.isHidden());
    window.ShowLinkingWindow();
    EXPECT_TRUE(window.isVisible());
}

// ---------------------------------------------------------------------------
// The built-in connector

class BuiltInConnectorTest : public ::testing::Test {
protected:
    void SetUp() override { TestEnvironment::ClearSettings(); }
    void TearDown() override { TestEnvironment::ClearSettings(); }

    // A connector whose program start is recorded instead of run.
    std::unique_ptr<TBuiltInConnector> RecordingConnector()
    {
        auto connector = std::make_unique<TBuiltInConnector>(links);
        connector->ProgramStarter = [this](const QString& program, const QStringList& arguments) {
            started << QStringList{program} + arguments;
            return startSucceeds;
        };
        return connector;
    }

    TSymbolLinks links;
    QList<QStringList> started;
    bool startSucceeds = true;
};

TEST_F(BuiltInConnectorTest, TheFirstClickOpensTheWindowForSetUp)
{
    TExternalLinkingWindow window(links);
    auto* connector = dynamic_cast<TBuiltInConnector*>(window.Connector());
    ASSERT_NE(connector, nullptr);
    EXPECT_EQ(connector->LinkState(), 0);
    window.LinkSymbol("IBM");
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.findChild<QRadioButton*>("LinkMode0")->isChecked());
}

TEST_F(BuiltInConnectorTest, StartsTheProgramWithTheSymbolAsItsOnlyArgument)
{
    auto connector = RecordingConnector();
    connector->SetMode(TBuiltInConnector::StartProgram);
    // A program mode without a program is no link yet.
    EXPECT_EQ(connector->LinkState(), 0);
    connector->SetProgram("/opt/charts/bin/chart");
    EXPECT_EQ(connector->LinkState(), 1);

    connector->SetSymbol("BRK/B");
    connector->ApplySymbol();
    EXPECT_EQ(started, QList<QStringList>{(QStringList{"/opt/charts/bin/chart", "BRK/B"})});
    // Every mark a ticker symbol uses, up to 32 characters.
    for (const char* symbol : {"IBM", "BRK.B", "^GSPC", "$SPX", "ES=F", "A_B", "X-Y", ".DJI", "/ESZ4"})
        EXPECT_EQ(ProgramSymbolProblem(symbol), "") << symbol;
    EXPECT_EQ(ProgramSymbolProblem(QString(32, 'Q')), "");
}

TEST_F(BuiltInConnectorTest, RefusesSymbolsAnotherProgramCouldMisread)
{
    auto connector = RecordingConnector();
    connector->SetMode(TBuiltInConnector::StartProgram);
    connector->SetProgram("/opt/charts/bin/chart");
    for (const QString& symbol :
         {QString("-rf"), QString("--help"), QString("+X"), QString("@args"), QString("../etc"), QString("a\\b"),
          QString("A;B"), QString("$(rm x)"), QString("X Y"), QString("*"), QString("A\nB"), QString("A\tB"),
          QString("A") + QChar(0x7F), QString(""), QString("A") + QChar(0x202E), QString::fromUtf8("NESN\xC3\x89"),
          QString(33, 'Q'), QString("/home/u/.ssh/id_rsa"), QString("/ES/Z4"), QString("/"), QString("/.ssh"),
          QString(".ssh/id_rsa"), QString("BRK/")}) {
        connector->SetSymbol(symbol);
        EXPECT_THROW(connector->ApplySymbol(), EConnectorError) << symbol.toStdString();
    }
    EXPECT_TRUE(started.isEmpty());

    connector->SetSymbol("-X");
    try {
        connector->ApplySymbol();
        ADD_FAILURE() << "no error";
    } catch (const EConnectorError& e) {
        EXPECT_NE(std::string(e.what()).find("starts with \"-\""), std::string::npos) << e.what();
    }
    // The reason is also shown in the window.
    EXPECT_TRUE(connector->findChild<QLabel*>("OutcomeLabel")->text().contains("-X"));
}

// A burst of picks starts one program now and the last one when its turn
// comes; those in between are dropped.
TEST_F(BuiltInConnectorTest, AtMostAFewProgramsStartASecond)
{
    auto connector = RecordingConnector();
    connector->SetMode(TBuiltInConnector::StartProgram);
    connector->SetProgram("/opt/charts/bin/chart");
    for (const char* symbol : {"AAA", "BBB", "CCC", "DDD"}) {
        connector->SetSymbol(symbol);
        connector->ApplySymbol();
    }
    ASSERT_EQ(started, QList<QStringList>{(QStringList{"/opt/charts/bin/chart", "AAA"})});
    ASSERT_TRUE(TestEnvironment::WaitFor([&] { return started.size() == 2; }));
    EXPECT_EQ(started.constLast(), (QStringList{"/opt/charts/bin/chart", "DDD"}));
    EXPECT_FALSE(TestEnvironment::WaitFor([&] { return started.size() > 2; }, std::chrono::milliseconds(600)));
}

TEST_F(BuiltInConnectorTest, AProgramThatDoesNotStartIsAnError)
{
    auto connector = RecordingConnector();
    startSucceeds = false;
    connector->SetMode(TBuiltInConnector::StartProgram);
    connector->SetProgram("/missing/program");
    connector->SetSymbol("IBM");
    EXPECT_THROW(connector->ApplySymbol(), EConnectorError);
}

TEST_F(BuiltInConnectorTest, NoShellEverSeesTheSymbol)
{
    // A real program that writes its arguments, one per line, to a file.
    const QString dir = TestEnvironment::WorkDir();
    const QString script = QDir(dir).filePath("echo-args.sh");
    const QString output = QDir(dir).filePath("args.txt");
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + output + ".tmp'\nmv '" +
                    output + ".tmp' '" + output + "'\n").toUtf8());
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    QDir::setCurrent(dir);
    TBuiltInConnector connector(links);
    connector.SetMode(TBuiltInConnector::StartProgram);
    connector.SetProgram(script);
    // A shell would expand it.
    connector.SetSymbol("$HOME");
    connector.ApplySymbol();

    ASSERT_TRUE(TestEnvironment::WaitFor([&] { return QFile::exists(output); }, std::chrono::seconds(20)));
    QFile result(output);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll(), QByteArray("$HOME\n"));
}

TEST_F(BuiltInConnectorTest, CopiesTheSymbolToTheClipboard)
{
    auto connector = RecordingConnector();
    connector->findChild<QRadioButton*>("LinkMode1")->click();
    EXPECT_EQ(connector->Mode(), TBuiltInConnector::CopyToClipboard);
    EXPECT_EQ(connector->LinkState(), 1);
    // Any printable symbol of up to 32 characters, even one no program would be given.
    for (const QString& symbol : {QString("GOOG"), QString("BRK/B"), QString::fromUtf8("NESN\xC3\x89 \xF0\x9D\x90\x80"),
                                  QString(32, 'Q'), QString("-X Y")}) {
        connector->SetSymbol(symbol);
        connector->ApplySymbol();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), symbol);
    }
    for (const QString& symbol : {QString("A\nB"), QString(33, 'Q'), QString("A") + QChar(0x200B),
                                  QString("A") + QChar(0xE000), QString("A") + QChar(0x2028)}) {
        connector->SetSymbol(symbol);
        EXPECT_THROW(connector->ApplySymbol(), EConnectorError) << symbol.toStdString();
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "-X Y");
    EXPECT_TRUE(started.isEmpty());
}

TEST_F(BuiltInConnectorTest, TheSetUpIsRemembered)
{
    {
        auto connector = RecordingConnector();
        connector->SetMode(TBuiltInConnector::StartProgram);
        connector->SetProgram("/opt/charts/bin/chart");
    }
    TBuiltInConnector again(links);
    EXPECT_EQ(again.Mode(), TBuiltInConnector::StartProgram);
    EXPECT_EQ(again.Program(), "/opt/charts/bin/chart");
    EXPECT_EQ(again.LinkState(), 1);
    EXPECT_TRUE(again.findChild<QRadioButton*>("LinkMode2")->isChecked());

    // An unknown stored mode is no link.
    TSettingsStore().WriteInteger(TBuiltInConnector::SettingsSection, "Mode", 7);
    EXPECT_EQ(TBuiltInConnector(links).LinkState(), 0);
}

TEST_F(BuiltInConnectorTest, BrowsingSetsTheProgramAndCancelKeepsIt)
{
    auto connector = RecordingConnector();
    connector->findChild<QRadioButton*>("LinkMode2")->click();
    QString answer = "/usr/local/bin/quotes";
    connector->ProgramChooser = [&](QWidget*, const QString&) { return answer; };
    auto* browse = connector->findChild<QPushButton*>();
    ASSERT_NE(browse, nullptr);
    browse->click();
    EXPECT_EQ(connector->Program(), "/usr/local/bin/quotes");
    answer.clear();
    browse->click();
    EXPECT_EQ(connector->Program(), "/usr/local/bin/quotes");
}

} // namespace

// ---------------------------------------------------------------------------
// The client on the desktop

namespace {

using namespace DesktopServices;

const auto* const g_privateBus = ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);

QStringList BusCall(const QString& method, const QStringList& arguments)
{
    return QStringList{"call", "--session", "--dest", "com.velmora.TaviskAlerts", "--object-path",
                       "/com/velmora/TaviskAlerts", "--method", method} + arguments;
}

} // namespace

TEST(DesktopSession, ProgramsFollowLinksAndStatusRaiseWindowsAndANotificationLeadsBackToItsWindow)
{
    TAV_SKIP_WITHOUT("dbus-daemon", "dbus-monitor", "gdbus", "Xvfb", "dunst", "dunstctl");
    TestEnvironment::ClearSettings();
    TestEnvironment::WriteIni("[General]\nwindow count=2\n[Alert Window 0]\ntitle=Strike\nsubscription=S\nnotify=1\n"
                              "[Alert Window 1]\ntitle=Points\nsubscription=P\ndisplay=pointslist\n");
    DunstOnXvfb dunst;
    ASSERT_TRUE(dunst.Start()) << dunst.Output().toStdString();
    // As start-up wires them.
    GuiTestParts parts;
    const auto connection = MakeLocalMainConnection();
    TMainForm form(*connection, parts.MainFormParts());
    const auto showWindow = [&form](const QString& title) { return form.ShowWindowTitled(title); };
    const std::unique_ptr<TDesktopBus> bus = MakeDesktopBus(showWindow);
    const TSubscription linksOnBus = AnnounceLinksOnBus(parts.SymbolLinks, *bus);
    const TSubscription statusOnBus = ShowStatusOnBus(form, *bus);
    const TAlertNotifications notifications(parts.Notices, parts.SymbolLinks, showWindow);
    GridProbe::LinkRecorder connector(parts.SymbolLinks);
    Peer monitor("dbus-monitor", {"--session", "type='signal',path='/com/velmora/TaviskAlerts'"});
    ASSERT_TRUE(monitor.WaitForOutput({"member=NameLost"})) << monitor.Output().toStdString(); // it monitors now

    Peer status("gdbus", BusCall("org.freedesktop.DBus.Properties.Get", {"com.velmora.TaviskAlerts1", "Status"}));
    EXPECT_EQ(status.WaitForExit(), 0) << status.Output().toStdString();
    EXPECT_EQ(status.Output(), "(<'" + form.StatusLine().toUtf8() + "'>,)\n");
    TAlertForm* points = form.AlertWindows().at(1);
    points->hide();
    Peer show("gdbus", BusCall("com.velmora.TaviskAlerts1.ShowWindow", {"Points"}));
    EXPECT_EQ(show.WaitForExit(), 0) << show.Output().toStdString();
    EXPECT_TRUE(points->isVisible());

    // Alerts that come together are one notification.
    TAlertForm* strike = form.AlertWindows().at(0);
    for (const char* last : {"1", "2", "123.4"})
        strike->HandleAlert(QByteArray("S\r\nsymbol=NVL&last=") + last);
    ASSERT_TRUE(dunst.Dunst->WaitForOutput({"summary: 'Strike: 3 new alerts'", "body: 'latest NVL 123.40'"}))
        << dunst.Output().toStdString();
    // A click in the grid, then the notification's action: both are links.
    strike->show();
    GridProbe::Click(*strike->Grid(), 0, 1);
    Peer invoke("dunstctl", {"action", "0"}, dunst.Environment);
    EXPECT_EQ(invoke.WaitForExit(), 0) << invoke.Output().toStdString();
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return connector.Symbols.size() == 2; }));
    EXPECT_EQ(connector.Symbols, (QList<QByteArray>{"NVL", "NVL"}));
    const QByteArray linked = "member=SymbolLinked\n   string \"NVL\"\n   string \"Strike\"";
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return monitor.Output().count(linked) == 2; }))
        << monitor.Output().toStdString();
    TestEnvironment::ClearSettings();
}
