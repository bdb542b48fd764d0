// The full top-list grid: when a new order reaches the screen, what is named
// missing, the column setting, the colours as rendered, the spike sound and
// selection forwarding.
#include "base/Assertions.h"
#include "GuiTestParts.h"
#include "TestEnvironment.h"
#include "TopListEntries.h"
#include "Zembra/QuentGridFull.h"
#include "platform/gui/PriceSpikeSound.h"
#include "platform/gui/SymbolLink.h"
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace {

using TopListEntries::Entry;
using TopListEntries::List;

QList<QByteArray> SymbolsOf(const TQuentTopListEntries& list)
{
    QList<QByteArray> symbols;
    for (const auto& e : list)
        symbols << e.symbol;
    return symbols;
}

QList<QByteArray> Symbols(std::initializer_list<const char*> symbols)
{
    QList<QByteArray> list;
    for (const char* s : symbols)
        list << QByteArray(s);
    return list;
}

QColor Rgb(TColor color) { return ToQColor(color); }

// A shown grid with a clock the test moves, a sound counter that notes a
// sound started inside a paint, and a recorder for linked symbols.
class QuentGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(700, 400);
        m_grid = new TQuentTopListFullGrid(m_window.get(), m_parts.SymbolLinks, m_parts.PriceSpikeSound);
        m_grid->setGeometry(0, 0, 700, 400);
        m_grid->SetClock([this] { return m_now; });
        OnSound([this] {
            ++m_sounds;
            if (m_grabbing)
                ++m_soundsInsidePaint;
        });
        OnLink([this](const QByteArray& symbol) { m_linked << symbol; });
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void TearDown() override { m_window.reset(); }

    // Each replaces the handler before it.
    void OnSound(std::function<void()> handler)
    {
        m_soundContext = std::make_unique<QObject>();
        QObject::connect(&m_parts.PriceSpikeSound, &TPriceSpikeSound::Requested, m_soundContext.get(),
                         std::move(handler));
    }
    void OnLink(std::function<void(const QByteArray&)> handler)
    {
        m_linkContext = std::make_unique<QObject>();
        QObject::connect(&m_parts.SymbolLinks, &TSymbolLinks::LinkRequested, m_linkContext.get(), std::move(handler));
    }

    // Renders the grid as the screen would and lets queued work run after.
    QImage Render()
    {
        m_grabbing = true;
        const QImage image = m_grid->grab().toImage();
        m_grabbing = false;
        QCoreApplication::processEvents();
        return image;
    }

    // Background of a cell, away from its text.
    static QColor Background(const QImage& image, const QRect& cell) { return image.pixelColor(cell.topLeft() + QPoint(2, cell.height() / 2)); }
    QColor CellBackground(const QImage& image, int column, int row) const { return Background(image, m_grid->CellRect(column, row)); }

    void Advance(qint64 ms) { m_now += ms; }

    GuiTestParts m_parts;
    std::unique_ptr<QWidget> m_window;
    TQuentTopListFullGrid* m_grid = nullptr;
    qint64 m_now = 1000000;
    bool m_grabbing = false;
    int m_sounds = 0;
    int m_soundsInsidePaint = 0;
    QList<QByteArray> m_linked;
    std::unique_ptr<QObject> m_soundContext;
    std::unique_ptr<QObject> m_linkContext;
};

// ---- The order's state as the header shows it (the rule itself: TopListOrder)

TEST_F(QuentGridTest, TheHeaderIsPinkWhileSymbolsAreMissingAndCyanWhileFrozen)
{
    m_grid->SetEntries({Entry("BBB", 1), Entry("CCC", 1)});
    EXPECT_EQ(CellBackground(Render(), 0, 0), Rgb(0x00D8E9EC)); // beige
    Advance(10000);
    m_grid->SetEntries({Entry("AAA", 2), Entry("BBB", 3)});
    EXPECT_EQ(SymbolsOf(m_grid->Displayed()), Symbols({"BBB", "CCC"}));
    EXPECT_EQ(m_grid->CellText(0, 1), "BBB");
    EXPECT_EQ(CellBackground(Render(), 0, 0), Rgb(0x00C0C0FF)); // pink: symbols missing

    // Frozen outranks missing symbols in the header.
    m_grid->SetFrozen(true);
    EXPECT_EQ(CellBackground(Render(), 0, 0), Rgb(0x00F8FE20));
    m_grid->SortNow();
    EXPECT_EQ(m_grid->CellText(0, 1), "AAA");
    m_grid->SetFrozen(false);
    EXPECT_EQ(CellBackground(Render(), 0, 0), Rgb(0x00D8E9EC));
}

// ---- Columns

QStringList Headers(TQuentTopListFullGrid& grid)
{
    QStringList headers;
    for (int column = 0; column < grid.ColCount(); ++column)
        headers << grid.CellText(column, 0);
    return headers;
}

TEST_F(QuentGridTest, ColumnSettingPicksTheColumns)
{
    EXPECT_EQ(Headers(*m_grid), QStringList({"Symbol"})); // before any setting
    m_grid->SetColumns(QString());
    EXPECT_EQ(Headers(*m_grid), QStringList({"Symbol", "PrSpk", "IPR", "TRang", "ORang", "Strnth", "Up Tr", "Nr Hi",
                                             "H", "Nr Lo", "L"}));
    m_grid->SetColumns(QStringLiteral("0,11,12,13"));
    EXPECT_EQ(Headers(*m_grid), QStringList({"Symbol", "Last", "%Chg", "Volume"}));
    m_grid->SetColumns(QStringLiteral("0,,1"));
    EXPECT_EQ(Headers(*m_grid), QStringList({"Symbol", "Symbol", "PrSpk"}));
    m_grid->SetColumns(QStringLiteral("x"));
    EXPECT_EQ(Headers(*m_grid), QStringList({"Symbol"}));
    m_grid->SetColumns(QStringLiteral("  14 \"13\"  2, 99 ,"));
    EXPECT_EQ(Headers(*m_grid), QStringList({"#", "Volume", "IPR", "", "Symbol"}));
    m_grid->SetColumns(QStringLiteral("\"1 2\",-3"));
    EXPECT_EQ(Headers(*m_grid), QStringList({"Symbol", ""}));
}

TEST_F(QuentGridTest, PieColumnsAreSquareAndOtherWidthsFollowTheirSamples)
{
    m_grid->SetColumns(QStringLiteral("0,8,10,13,99"));
    const int rowHeight = m_grid->DefaultRowHeight();
    EXPECT_EQ(m_grid->ColWidth(1), rowHeight);
    EXPECT_EQ(m_grid->ColWidth(2), rowHeight);
    EXPECT_EQ(m_grid->ColWidth(3), m_grid->MeasureColumnWidth(QStringLiteral("100,000,000")));
    EXPECT_EQ(m_grid->ColWidth(4), 64);

    QFont bigger = m_grid->font();
    bigger.setPointSize(bigger.pointSize() * 2);
    m_grid->setFont(bigger);
    EXPECT_GT(m_grid->DefaultRowHeight(), rowHeight);
    EXPECT_EQ(m_grid->ColWidth(1), m_grid->DefaultRowHeight());
}

TEST_F(QuentGridTest, CellTextsShowTheFormattedMeasures)
{
    m_grid->SetColumns(QStringLiteral("0,1,11,13,14,8"));
    TQuentTopListEntry e = Entry("ABC");
    e.priceSpike = 7.26;
    e.last = 12.5;
    e.volume = 1234;
    e.count = 0;
    e.newHigh = 0.5;
    m_grid->SetEntries({e, Entry("-")});
    EXPECT_EQ(m_grid->CellText(0, 1), QStringLiteral("ABC"));
    EXPECT_EQ(m_grid->CellText(1, 1), QStringLiteral("7.3"));
    EXPECT_EQ(m_grid->CellText(2, 1), QStringLiteral("12.50"));
    EXPECT_EQ(m_grid->CellText(3, 1), QString("1%11234").arg(QLocale().groupSeparator()));
    EXPECT_EQ(m_grid->CellText(4, 1), QString()); // a count of 0 stays empty
    EXPECT_EQ(m_grid->CellText(5, 1), QStringLiteral("50%"));
    EXPECT_EQ(m_grid->CellText(2, 2), QStringLiteral("Last")); // a "-" row repeats the headers
}

// ---- Colours as rendered

TEST_F(QuentGridTest, VolumeRateRunsFromBlueThroughBlackToRed)
{
    EXPECT_EQ(VolumeRateColor(0.5), TColor(0x00FF0000));
    EXPECT_EQ(VolumeRateColor(-3), TColor(0x00FF0000));
    EXPECT_EQ(VolumeRateColor(0.75), TColor(128 << 16)); // 127.5 rounds to the even 128
    EXPECT_EQ(VolumeRateColor(0.875), TColor(64 << 16)); // 63.75
    EXPECT_EQ(VolumeRateColor(1), clBlack);
    EXPECT_EQ(VolumeRateColor(2.25), TColor(128)); // 127.5 again
    EXPECT_EQ(VolumeRateColor(3.5), clRed);
    EXPECT_EQ(VolumeRateColor(100), clRed);
    EXPECT_EQ(VolumeRateColor(std::nan("")), clBlack);

    m_grid->SetColumns(QStringLiteral("0,2,3"));
    m_grid->SetEntries({Entry("A", 0.5), Entry("B", 0.75), Entry("C", 1), Entry("D", 2.25), Entry("E", 3.5),
                        Entry("F")});
    const QImage image = Render();
    const QColor expected[] = {QColor(0, 0, 255), QColor(0, 0, 128), QColor(0, 0, 0),
                               QColor(128, 0, 0), QColor(255, 0, 0), QColor(0, 0, 0)};
    for (int row = 1; row <= 6; ++row) {
        EXPECT_EQ(CellBackground(image, 0, row), expected[row - 1]) << "symbol, row " << row;
        EXPECT_EQ(CellBackground(image, 1, row), expected[row - 1]) << "rate, row " << row;
        EXPECT_EQ(CellBackground(image, 2, row), QColor(0, 0, 0)) << "other, row " << row;
    }
}

TEST_F(QuentGridTest, ADashRowIsDrawnLikeTheHeader)
{
    m_grid->SetColumns(QStringLiteral("0,1"));
    TQuentTopListEntry dash = Entry("-", 3.5);
    dash.priceSpike = 9; // header-like first: no yellow, no sound
    m_grid->SetEntries({Entry("AAA", 1), dash});
    const QImage image = Render();
    EXPECT_EQ(CellBackground(image, 0, 2), Rgb(0x00D8E9EC));
    EXPECT_EQ(CellBackground(image, 1, 2), Rgb(0x00D8E9EC));
    EXPECT_EQ(CellBackground(image, 0, 1), QColor(0, 0, 0));
    EXPECT_EQ(m_sounds, 0);
}

TEST_F(QuentGridTest, ASpikeSoundsOnceAfterPaintingAndAgainOnlyAfterItWasSeenBelowSeven)
{
    m_grid->SetColumns(QStringLiteral("0,1"));
    TQuentTopListEntry spiking = Entry("AAA");
    spiking.priceSpike = 7;
    m_grid->SetEntries({spiking, Entry("BBB")});

    QImage image = Render();
    EXPECT_EQ(CellBackground(image, 1, 1), QColor(255, 255, 0));
    EXPECT_EQ(CellBackground(image, 1, 2), QColor(0, 0, 0));
    EXPECT_EQ(m_sounds, 1);
    EXPECT_EQ(m_grid->SpikedSymbols(), Symbols({"AAA"}));

    Render();
    Render();
    EXPECT_EQ(m_sounds, 1);

    spiking.priceSpike = 6.9;
    m_grid->SetEntries({spiking, Entry("BBB")});
    image = Render();
    EXPECT_EQ(CellBackground(image, 1, 1), QColor(0, 0, 0));
    EXPECT_TRUE(m_grid->SpikedSymbols().isEmpty());
    EXPECT_EQ(m_sounds, 1);

    spiking.priceSpike = 7;
    m_grid->SetEntries({spiking, Entry("BBB")});
    Render();
    EXPECT_EQ(m_sounds, 2);
    EXPECT_EQ(m_soundsInsidePaint, 0);
}

TEST_F(QuentGridTest, SpikesPaintedUntilTheSoundIsOverJoinItAndAnUnpaintedSpikeNeverSounds)
{
    m_grid->SetIgnoreSortTimer(true);
    m_grid->SetColumns(QStringLiteral("0"));
    TQuentTopListEntry a = Entry("AAA");
    TQuentTopListEntry b = Entry("BBB");
    a.priceSpike = b.priceSpike = 8;
    m_grid->SetEntries({a, b});
    Render();
    EXPECT_EQ(m_sounds, 0); // no spike column shown

    // Two spikes in one paint, and a third painted while their sound plays.
    TQuentTopListEntry c = Entry("CCC");
    c.priceSpike = 9;
    OnSound([&] {
        ++m_sounds;
        m_grid->SetEntries({a, b, c});
        Render();
    });
    m_grid->SetColumns(QStringLiteral("0,1"));
    Render();
    EXPECT_EQ(m_sounds, 1);
    EXPECT_EQ(m_soundsInsidePaint, 0);
    EXPECT_EQ(m_grid->SpikedSymbols(), Symbols({"AAA", "BBB", "CCC"}));

    // Once it is over, a new spike sounds again.
    TQuentTopListEntry d = Entry("DDD");
    d.priceSpike = 10;
    OnSound([&] { ++m_sounds; });
    m_grid->SetEntries({a, b, c, d});
    Render();
    EXPECT_EQ(m_sounds, 2);
}

TEST_F(QuentGridTest, PiesFillTheirFractionCounterClockwiseFromTwelve)
{
    m_grid->SetColumns(QStringLiteral("0,8,10"));
    QFont big = m_grid->font();
    big.setPixelSize(30); // room for a clearly sampled pie
    m_grid->setFont(big);
    TQuentTopListEntry none = Entry("A");
    none.newHigh = 0;
    TQuentTopListEntry half = Entry("B");
    half.newHigh = 0.5;
    half.newLow = 0.25;
    TQuentTopListEntry full = Entry("C");
    full.newHigh = 1;
    full.newLow = 3;
    m_grid->SetEntries({none, half, full});
    const QImage image = Render();

    const QColor green(0, 255, 0);
    const QColor orange(255, 102, 0);
    const QColor black(0, 0, 0);
    const auto at = [&](int column, int row, int dx, int dy) {
        return image.pixelColor(m_grid->CellRect(column, row).center() + QPoint(dx, dy));
    };
    const int q = m_grid->DefaultRowHeight() / 6;
    EXPECT_EQ(at(1, 1, 0, 0), black); // 0: nothing
    EXPECT_EQ(at(2, 1, 0, 0), black); // NaN: nothing
    EXPECT_EQ(at(1, 2, -q, 0), green); // 0.5: the left half
    EXPECT_EQ(at(1, 2, q, 0), black);
    EXPECT_EQ(at(2, 2, -q, -q), orange); // 0.25: twelve to nine o'clock
    EXPECT_EQ(at(2, 2, -q, q), black);
    EXPECT_EQ(at(2, 2, q, -q), black);
    EXPECT_EQ(at(1, 3, 0, 0), green); // 1 and more: a full disc
    EXPECT_EQ(at(1, 3, q, q), green);
    EXPECT_EQ(at(2, 3, q, -q), orange);

    // The edge is smoothed: some pixels of the full disc lie between green and black.
    const QRect cell = m_grid->CellRect(1, 3);
    int blended = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            blended += c.green() > 0 && c.green() < 255 && c.red() == 0 && c.blue() == 0;
        }
    EXPECT_GT(blended, 4);
}

// ---- Painting while the list changes

// Delivers a new list in the middle of a paint, as an alert handled in a
// nested event loop would.
class ListChangingGrid : public TQuentTopListFullGrid {
public:
    using TQuentTopListFullGrid::TQuentTopListFullGrid;
    TQuentTopListEntries Arriving;
    bool Armed = false;

protected:
    void DrawCell(int column, int row, const QRect& rect, TGridDrawState state) override
    {
        TQuentTopListFullGrid::DrawCell(column, row, rect, state);
        if (Armed && row == 1 && column == 0) {
            Armed = false;
            SetEntries(Arriving);
        }
    }
};

TEST(QuentGridPaint, APaintFinishesWithTheListItStartedWith)
{
    GuiTestParts parts;
    QWidget window;
    window.resize(400, 300);
    auto* grid = new ListChangingGrid(&window, parts.SymbolLinks, parts.PriceSpikeSound);
    grid->setGeometry(0, 0, 400, 300);
    grid->SetIgnoreSortTimer(true);
    grid->SetColumns(QStringLiteral("0,2"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    grid->SetEntries({Entry("AAA", 0.5), Entry("BBB", 0.5), Entry("CCC", 0.5)});
    grid->Arriving = {Entry("XXX", 3.5)};
    grid->Armed = true;
    QImage image = grid->grab().toImage();
    const auto background = [&](int column, int row) {
        const QRect cell = grid->CellRect(column, row);
        return image.pixelColor(cell.topLeft() + QPoint(2, cell.height() / 2));
    };
    EXPECT_FALSE(grid->Armed);
    EXPECT_EQ(SymbolsOf(grid->Displayed()), Symbols({"XXX"}));
    EXPECT_EQ(background(1, 1), QColor(0, 0, 255)); // still the old row

    image = grid->grab().toImage();
    EXPECT_EQ(background(0, 1), QColor(255, 0, 0));
}

// ---- Selection

TEST_F(QuentGridTest, ANewlySelectedSymbolIsLinkedOnce)
{
    m_grid->SetColumns(QStringLiteral("0,1"));
    m_grid->SetEntries(List({"AAA", "-", "BBB", "", "AAA"}));

    m_grid->SetRow(1);
    m_grid->SetRow(2); // "-" is not a symbol
    m_grid->SetRow(4); // nor is an empty one
    m_grid->SetRow(5); // the same symbol as before
    EXPECT_EQ(m_linked, Symbols({"AAA"}));

    QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->visualRect(m_grid->model()->index(2, 0)).center());
    EXPECT_EQ(m_grid->Row(), 3);
    EXPECT_EQ(m_linked, Symbols({"AAA", "BBB"}));
    // A second click on the row sends nothing: releases are not forwarded.
    QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->visualRect(m_grid->model()->index(2, 0)).center());
    EXPECT_EQ(m_linked, Symbols({"AAA", "BBB"}));
    EXPECT_EQ(m_grid->SelectedSymbol(), QByteArray("BBB"));
}

TEST_F(QuentGridTest, TheSelectedRowIsFramedAtItsSymbol)
{
    m_grid->SetColumns(QStringLiteral("0,3"));
    m_grid->SetEntries(List({"AAA", "BBB"}));
    m_grid->SetRow(2);
    const QImage image = Render();
    const QRect symbolCell = m_grid->CellRect(0, 2);
    const QRect otherCell = m_grid->CellRect(1, 2);
    EXPECT_EQ(image.pixelColor(symbolCell.topLeft()), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(symbolCell.bottomRight()), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(otherCell.topLeft()), QColor(0, 0, 0));
    EXPECT_EQ(image.pixelColor(m_grid->CellRect(0, 1).topLeft()), QColor(0, 0, 0));
}

TEST_F(QuentGridTest, AFailingLinkIsDroppedAndTheSelectionStands)
{
    int attempts = 0;
    OnLink([&](const QByteArray&) {
        ++attempts;
        throw std::runtime_error("connector gone");
    });
    m_grid->SetEntries(List({"AAA", "BBB"}));
    EXPECT_NO_THROW(m_grid->SetRow(2));
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(m_grid->Row(), 2);
    EXPECT_EQ(m_grid->SelectedSymbol(), QByteArray("BBB"));
}

TEST_F(QuentGridTest, AResortKeepsTheSelectionOnlyWhereItsSymbolStays)
{
    m_grid->SetIgnoreSortTimer(true);
    m_grid->SetEntries(List({"AAA", "BBB", "CCC"}));
    m_grid->SetRow(2);
    ASSERT_EQ(m_linked, Symbols({"BBB"}));

    m_grid->SetEntries(List({"CCC", "BBB", "AAA"}));
    EXPECT_EQ(m_grid->Row(), 2);
    EXPECT_EQ(m_grid->SelectedSymbol(), QByteArray("BBB"));

    m_grid->SetEntries(List({"BBB", "CCC", "AAA"}));
    EXPECT_EQ(m_grid->Row(), -1);
    EXPECT_EQ(m_grid->SelectedSymbol(), QByteArray());
    EXPECT_EQ(m_grid->TopRow(), 1);
    // Re-sorting linked nothing; selecting BBB again links it again.
    EXPECT_EQ(m_linked, Symbols({"BBB"}));
    m_grid->SetRow(1);
    EXPECT_EQ(m_linked, Symbols({"BBB", "BBB"}));

    m_grid->SetEntries(List({"DDD"})); // the selected row is gone
    EXPECT_EQ(m_grid->Row(), -1);
    EXPECT_EQ(m_grid->SelectedSymbol(), QByteArray());

    // The window coming back to the front picks no row for the trader.
    m_linked.clear();
    m_grid->setFocus();
    QWidget other;
    other.show();
    for (QWidget* active : {&other, m_window.get()}) {
        QApplication::setActiveWindow(active);
        ASSERT_TRUE(QTest::qWaitForWindowActive(active));
    }
    ASSERT_TRUE(m_grid->hasFocus());
    EXPECT_EQ(m_grid->Row(), -1);
    EXPECT_TRUE(m_linked.isEmpty());
}

TEST_F(QuentGridTest, APressOnAPartlyShownBottomRowLinksItWithoutScrolling)
{
    TQuentTopListEntries rows;
    for (int i = 0; i < 100; ++i)
        rows << Entry(QByteArray::number(i).constData());
    m_grid->SetEntries(rows);
    // Cut the last visible row in half.
    const int rowHeight = m_grid->DefaultRowHeight();
    m_grid->resize(m_grid->width(), rowHeight * 10 + rowHeight / 2);
    const QRect viewport = m_grid->viewport()->rect();
    const int lastRow = m_grid->rowAt(viewport.bottom());
    ASSERT_GT(m_grid->visualRect(m_grid->model()->index(lastRow, 0)).bottom(), viewport.bottom());

    QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, QPoint(5, viewport.bottom() - 1));
    EXPECT_EQ(m_grid->TopRow(), 1);
    EXPECT_EQ(m_grid->Row(), lastRow + 1);
    EXPECT_EQ(m_linked, QList<QByteArray>{QByteArray::number(lastRow)});
}

TEST_F(QuentGridTest, WithoutScrollBarsTheKeyboardReachesEveryRow)
{
    TQuentTopListEntries rows;
    for (int i = 0; i < 200; ++i)
        rows << Entry(QByteArray::number(i).constData());
    m_grid->SetEntries(rows);
    Render();
    EXPECT_FALSE(m_grid->verticalScrollBar()->isVisible());
    EXPECT_FALSE(m_grid->horizontalScrollBar()->isVisible());

    // Rows past the bottom are reached with the keyboard, and each is linked.
    m_grid->setFocus();
    m_grid->SetRow(1);
    for (int i = 0; i < 60; ++i)
        QTest::keyClick(m_grid, Qt::Key_Down);
    EXPECT_EQ(m_grid->Row(), 61);
    EXPECT_GT(m_grid->TopRow(), 1);
    EXPECT_TRUE(m_grid->viewport()->rect().intersects(m_grid->visualRect(m_grid->model()->index(60, 0))));
    EXPECT_EQ(m_linked.size(), 61);
    EXPECT_EQ(m_linked.back(), QByteArray("60"));
}

TEST(QuentGridOwner, AGridWithoutOwnerIsRefused)
{
    GuiTestParts parts;
    try {
        TQuentTopListFullGrid orphan(nullptr, parts.SymbolLinks, parts.PriceSpikeSound);
        FAIL() << "a grid without an owner was built";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.Unit(), "QuentGridFull");
        EXPECT_EQ(e.Line(), 798);
    }
}

} // namespace
