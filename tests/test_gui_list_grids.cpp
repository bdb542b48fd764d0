// The strike, Bollinger, symbol-only and points grids: where each differs
// from the family.
#include "GuiGridProbe.h"
#include "TestEnvironment.h"
#include "grids/BollingerGrid.h"
#include "grids/PointsTopListGrid.h"
#include "grids/SymbolOnlyGrid.h"
#include "grids/VantorGrid.h"
#include "platform/gui/SymbolLink.h"
#include <QApplication>
#include <QScrollBar>
#include <gtest/gtest.h>
#include <cmath>

using namespace GridProbe;

namespace {

const double NaN = std::nan("");

template <typename TGrid>
constexpr bool CanSetTextColor = requires(TGrid& grid) { grid.SetTextColor(clRed); };

TVantorEntry Strike(const QByteArray& symbol, double last = NaN, double prevClose = NaN, double extra = NaN)
{
    TVantorEntry entry;
    entry.symbol = symbol;
    entry.last = last;
    entry.prevClose = prevClose;
    entry.extra = extra;
    entry.time = "09:30:15";
    return entry;
}

class ListGridsTest : public ::testing::Test {
protected:
    TSymbolLinks symbolLinks;
    std::unique_ptr<QWidget> owner = MakeOwner();
};

} // namespace

// ---- Strike grid

TEST_F(ListGridsTest, StrikeGridInvertsTheNewestRowOnly)
{
    TVantorGrid grid(owner.get(), symbolLinks);
    grid.SetTextColor(0x00FFFF00); // cyan
    Show(*owner, grid);
    const QColor cyan(0, 255, 255);

    grid.SetEntries({});
    EXPECT_EQ(CentreColour(grid, 2, 1), Qt::black) << "an empty row 1 keeps the normal colours";

    TVantorEntries list;
    list.PushFront(Strike("OLD", 5));
    list.PushFront(Strike("NEW", 6));
    grid.SetEntries(list);
    EXPECT_EQ(Background(grid, 0, 1), cyan);
    EXPECT_TRUE(CellHasColour(grid, 0, 1, Qt::black));
    EXPECT_EQ(CentreColour(grid, 3, 1), cyan) << "the whole row, empty cells too";
    EXPECT_EQ(Background(grid, 0, 2), Qt::black);
    EXPECT_TRUE(CellHasColour(grid, 0, 2, cyan));
    EXPECT_EQ(Background(grid, 0, 0), Rgb(grid.FixedColor()));
}

TEST_F(ListGridsTest, StrikeGridComputesChangesFromThePreviousClose)
{
    TVantorGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    TVantorEntries list;
    list.PushFront(Strike("ZERO", 10.5, 0));
    list.PushFront(Strike("NOPREV", 10.5));
    list.PushFront(Strike("BOTH", 10.5, 10));
    grid.SetEntries(list);

    EXPECT_EQ(RowTexts(grid, 0), QStringList({"Symbol", "Last", "Chg", "%Chg", "Divrg", "Time"}));
    EXPECT_EQ(RowTexts(grid, 1), QStringList({"BOTH", "10.50", "0.50", "5.00%", "", "09:30:15"}));
    EXPECT_EQ(RowTexts(grid, 2), QStringList({"NOPREV", "10.50", "", "", "", "09:30:15"}));
    // No percentage of a zero close.
    EXPECT_EQ(RowTexts(grid, 3), QStringList({"ZERO", "10.50", "10.50", "", "", "09:30:15"}));
}

TEST_F(ListGridsTest, StrikeGridExtraColumnNameAndFormat)
{
    TVantorGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    TVantorEntries list;
    list.PushFront(Strike("NEG", 1, 1, -0.7));
    list.PushFront(Strike("BIG", 1, 1, 1234.9));
    list.PushFront(Strike("HUGE", 1, 1, 1e30));
    grid.SetEntries(list);

    EXPECT_EQ(DisplayText(grid, 4, 2), "1234.90");
    grid.SetExtraColumnFormat("I");
    EXPECT_EQ(DisplayText(grid, 4, 1), "...") << "no integer form";
    EXPECT_EQ(DisplayText(grid, 4, 2), "1234");
    EXPECT_EQ(DisplayText(grid, 4, 3), "0");
    grid.SetExtraColumnFormat("i");
    EXPECT_EQ(DisplayText(grid, 4, 2), "1234.90");

    grid.SetExtraColumnName("Gap");
    EXPECT_EQ(DisplayText(grid, 4, 0), "Gap");
    grid.SetExtraColumnName("");
    EXPECT_EQ(DisplayText(grid, 4, 0), "Divrg");
}

TEST_F(ListGridsTest, StrikeGridKeepsItsSizesAfterAFontChange)
{
    TVantorGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    const int height = grid.DefaultRowHeight();
    const int symbolWidth = grid.ColWidth(0);
    owner->setFont(CrispFont(24));
    EXPECT_EQ(grid.DefaultRowHeight(), height);
    EXPECT_EQ(grid.ColWidth(0), symbolWidth);
}

// ---- Bollinger grid

TEST_F(ListGridsTest, BollingerColoursEveryNumberBySign)
{
    TBollingerGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    auto row = [](const char* symbol, double last, double prevClose, double dist) {
        TBollingerEntry entry;
        entry.symbol = symbol;
        entry.last = last;
        entry.prevClose = prevClose;
        entry.distFromBB = dist;
        return entry;
    };
    grid.SetEntries({row("UP", 12, 10, 1.25), row("DOWN", 8, 10, -0.5), row("FLAT", 0, 0, 0), row("NOPREV", 5, NaN, 1)});
    const QColor green = Rgb(BollingerPositive), red = Rgb(BollingerNegative), white = Rgb(BollingerZero);

    EXPECT_EQ(DisplayText(grid, 3, 1), "1.25");
    EXPECT_TRUE(CellHasColour(grid, 3, 1, green));
    EXPECT_TRUE(CellHasColour(grid, 2, 1, green));
    EXPECT_EQ(DisplayText(grid, 3, 2), "-0.50");
    EXPECT_TRUE(CellHasColour(grid, 3, 2, red));
    EXPECT_TRUE(CellHasColour(grid, 1, 2, green)) << "a positive last price";
    EXPECT_TRUE(CellHasColour(grid, 2, 2, red));
    EXPECT_EQ(DisplayText(grid, 3, 3), "0.00");
    EXPECT_TRUE(CellHasColour(grid, 3, 3, white));
    for (int r = 1; r <= 2; ++r) {
        EXPECT_TRUE(CellHasColour(grid, 0, r, white)) << "symbols stay white";
        EXPECT_EQ(Background(grid, 0, r), Qt::black);
    }
    EXPECT_EQ(DisplayText(grid, 1, 4), "5.00");
    EXPECT_EQ(DisplayText(grid, 2, 4), "") << "no change without a previous close";
    EXPECT_EQ(DisplayText(grid, 3, 4), "1.00");
    static_assert(!CanSetTextColor<TBollingerGrid>, "the window's colour does not apply");
    static_assert(CanSetTextColor<TVantorGrid>);
}

TEST_F(ListGridsTest, BollingerBandLabelNamesTheDistanceColumn)
{
    TBollingerGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    EXPECT_EQ(DisplayText(grid, 3, 0), "BBand");
    grid.SetBandLabel("Dist");
    EXPECT_EQ(DisplayText(grid, 3, 0), "Dist");
    EXPECT_EQ(grid.BandLabel(), "Dist");
    // A label wider than its column is still shown, cut to the cell.
    grid.SetBandLabel("A much longer band label");
    EXPECT_EQ(Background(grid, 3, 0), Rgb(grid.FixedColor()));
    EXPECT_TRUE(CellHasColour(grid, 3, 0, Qt::black));
    EXPECT_EQ(FitText(grid.Canvas(), grid.CellRect(3, 0).adjusted(4, 1, -4, -1), grid.BandLabel()).right(3), "...");
}

// ---- Symbol-only grid

namespace {
struct Board {
    Board(QWidget* owner, TSymbolLinks& links) : grid(owner, links)
    {
        // Three data rows under the header, two columns.
        grid.setGeometry(0, 0, grid.DefaultColWidth() * 2 + 5, grid.DefaultRowHeight() * 4 + 3);
        owner->show();
        TestEnvironment::WaitFor([&] { return grid.isVisible(); });
    }
    void Alert(const QByteArray& symbol)
    {
        list.PushFront(Strike(symbol));
        grid.SetEntries(list);
    }
    TSymbolOnlyGrid grid;
    TVantorEntries list;
};
}

TEST_F(ListGridsTest, SymbolBoardFillsLikeARingWithTheNewestInverted)
{
    Board board(owner.get(), symbolLinks);
    TSymbolOnlyGrid& grid = board.grid;
    ASSERT_EQ(grid.ColCount(), 2);
    ASSERT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(grid.RingPosition(), -1);

    board.Alert("S1");
    EXPECT_EQ(DisplayText(grid, 0, 1), "S1");
    EXPECT_EQ(Background(grid, 0, 1), Qt::white) << "newest inverted";
    EXPECT_TRUE(CellHasColour(grid, 0, 1, Qt::black));

    board.Alert("S2");
    EXPECT_EQ(DisplayText(grid, 0, 2), "S2");
    EXPECT_EQ(Background(grid, 0, 2), Qt::white);
    EXPECT_EQ(Background(grid, 0, 1), Qt::black);
    EXPECT_TRUE(CellHasColour(grid, 0, 1, Qt::white));

    for (const char* symbol : {"S3", "S4", "S5", "S6", "S7"})
        board.Alert(symbol);
    EXPECT_EQ(DisplayText(grid, 0, 1), "S7") << "the seventh overwrites the first";
    EXPECT_EQ(DisplayText(grid, 1, 3), "S6");
    EXPECT_EQ(DisplayText(grid, 0, 2), "S2");
    int index = -1;
    EXPECT_TRUE(grid.CellToEntry(0, 1, index));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(grid.CellToEntry(1, 3, index));
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(grid.CellToEntry(0, 2, index));
    EXPECT_EQ(index, 5);
    EXPECT_FALSE(grid.CellToEntry(0, 0, index)) << "header cells show no entry";
    for (int column = 0; column < 2; ++column)
        EXPECT_EQ(DisplayText(grid, column, 0), "Symbol");
}

TEST_F(ListGridsTest, SymbolBoardReshapesClearsAndForwardsClicks)
{
    Board board(owner.get(), symbolLinks);
    TSymbolOnlyGrid& grid = board.grid;
    LinkRecorder links(symbolLinks);
    for (const char* symbol : {"A", "B", "C", "D"})
        board.Alert(symbol);

    // Same shape: nothing moves.
    grid.resize(grid.width() + 2, grid.height() + 1);
    EXPECT_EQ(DisplayText(grid, 1, 1), "D");
    // One more data row: laid out again from cell 0, oldest first.
    grid.resize(grid.width(), grid.DefaultRowHeight() * 5 + 3);
    ASSERT_EQ(grid.RowCount(), 5);
    EXPECT_EQ(grid.RingPosition(), 3);
    EXPECT_EQ(DisplayText(grid, 0, 1), "A");
    EXPECT_EQ(DisplayText(grid, 0, 4), "D");
    EXPECT_EQ(DisplayText(grid, 1, 1), "");

    Click(grid, 0, 2);
    Click(grid, 0, 3, Qt::RightButton);
    Click(grid, 1, 2);
    Click(grid, 0, 0);
    EXPECT_EQ(links.Symbols, QList<QByteArray>{"B"});

    board.list.clear();
    grid.SetEntries(board.list);
    EXPECT_EQ(grid.RingPosition(), -1);
    EXPECT_EQ(DisplayText(grid, 0, 1), "");
    board.Alert("E");
    EXPECT_EQ(DisplayText(grid, 0, 1), "E") << "starts again at cell 0";

    EXPECT_EQ(grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed) << "no column sizing";
    EXPECT_EQ(grid.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(grid.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

// ---- Points grid

TEST_F(ListGridsTest, PointsGridVolumeColumn)
{
    TPointsTopListGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    EXPECT_EQ(grid.ColCount(), 3);
    const TPointsTopListEntry first{.symbol = "AAA", .last = 20, .change = 1.5, .percentVol = 12.5};
    const TPointsTopListEntry noLast{.symbol = "NOLAST", .change = 1.5};
    grid.SetEntries({first, noLast});
    EXPECT_EQ(DisplayText(grid, 2, 1), "1.50");
    EXPECT_EQ(DisplayText(grid, 1, 2), "");
    EXPECT_EQ(DisplayText(grid, 2, 2), "") << "no change without a last price";

    grid.ShowVolumeColumn();
    EXPECT_EQ(grid.ColCount(), 4);
    EXPECT_EQ(DisplayText(grid, 3, 0), "%Vol");
    EXPECT_EQ(DisplayText(grid, 3, 1), "12.50%");
    EXPECT_EQ(grid.ColWidth(3), grid.Canvas().TextWidth("1000.00%") + 16);
    EXPECT_TRUE(CellHasColour(grid, 3, 1, Qt::white));

    const QFont big = CrispFont(22);
    owner->setFont(big);
    EXPECT_EQ(grid.ColWidth(3), TCanvas(big).TextWidth("1000.00%") + 16);
    EXPECT_EQ(grid.ColWidth(0), TCanvas(big).TextWidth("Symbol") + 16);
}

TEST_F(ListGridsTest, PointsGridEmptyListKeepsOneEmptyRow)
{
    TPointsTopListGrid grid(owner.get(), symbolLinks);
    grid.SetTextColor(clYellow);
    Show(*owner, grid);
    TPointsTopListEntry row;
    row.symbol = "X";
    grid.SetEntries({row});
    EXPECT_TRUE(CellHasColour(grid, 0, 1, Qt::yellow));
    grid.SetEntries({});
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(CellColours(grid, 0, 1), QList<QColor>{Qt::black});
}
