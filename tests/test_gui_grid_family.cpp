// The list grids' shared behaviour (cell helpers, number formats, painting
// frame, clicks, layout) and the two simple lists.
#include "GuiGridProbe.h"
#include "grids/DravelGrid.h"
#include "grids/FerrikGrid.h"
#include "grids/PointsTopListGrid.h"
#include "platform/gui/SymbolLink.h"
#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QScrollBar>
#include <gtest/gtest.h>
#include <cmath>
#include <stdexcept>

using namespace GridProbe;

namespace {

const double NaN = std::nan("");

TFerrikEntry Ferrik(const char* symbol, double rank = 0, qint32 count = 0)
{
    TFerrikEntry entry;
    entry.time = "09:31";
    entry.symbol = symbol;
    entry.rank = rank;
    entry.count = count;
    return entry;
}

// Entries given oldest first end up newest first, as the alert window adds them.
template <typename TList, typename TEntry>
TList NewestFirst(std::initializer_list<TEntry> oldestFirst)
{
    TList list;
    for (const TEntry& entry : oldestFirst)
        list.PushFront(entry);
    return list;
}

QString Sep() { return QLocale().groupSeparator(); }

class GridFamilyTest : public ::testing::Test {
protected:
    // The linking window stand-in, gone with the test.
    void OnLink(std::function<void(const QByteArray&)> handler)
    {
        QObject::connect(&symbolLinks, &TSymbolLinks::LinkRequested, &context, std::move(handler));
    }
    QObject context;
    TSymbolLinks symbolLinks;
    std::unique_ptr<QWidget> owner = MakeOwner();
};

} // namespace

// ---- Cell helpers

TEST(CellHelpers, FitTextKeepsTheLongestHeadThatFitsWithEllipsis)
{
    TCanvas canvas(CrispFont());
    const QString text = QStringLiteral("ABCDEFGHIJ");
    const int exact = canvas.TextWidth(QStringLiteral("ABCD..."));
    EXPECT_EQ(FitText(canvas, QRect(0, 0, exact, 10), text), "ABCD...");
    EXPECT_EQ(FitText(canvas, QRect(0, 0, exact - 1, 10), text), "ABC...");
    EXPECT_EQ(FitText(canvas, QRect(0, 0, canvas.TextWidth(text), 10), text), text);
    EXPECT_EQ(FitText(canvas, QRect(0, 0, 2, 10), text), "...");
    EXPECT_TRUE(TextTooWide(canvas, QRect(0, 0, canvas.TextWidth(text) - 1, 10), text));
}

TEST(CellHelpers, FixedAndGroupedTexts)
{
    EXPECT_EQ(FixedText("%f", 1.25), "1.25");
    EXPECT_EQ(FixedText("%f", 7.0), "7.00");
    EXPECT_EQ(FixedText("%.01f", -1.93), "-1.9");
    EXPECT_EQ(FixedText("%.1f", 99.94), "99.9");
    EXPECT_EQ(FixedText("%f%%", 12.5), "12.50%");
    EXPECT_EQ(FixedText("%f", -0.001), "0.00") << "no sign on a value that shows as zero";
    EXPECT_EQ(GroupedText(1234567, 0), "1" + Sep() + "234" + Sep() + "567");
    EXPECT_EQ(GroupedText(-1234.5, 2), "-1" + Sep() + "234.50");
    EXPECT_EQ(GroupedText(999, 1), "999.0");
}

TEST(CellHelpers, FormatCountFallsBackToScaledFormsThenEllipsis)
{
    TCanvas canvas(CrispFont());
    auto in = [&](int width) { return FormatCount(canvas, QRect(0, 0, width, 10), 1234); };
    auto width = [&](const QString& text) { return canvas.TextWidth(text); };
    const QString whole = "1" + Sep() + "234";

    EXPECT_EQ(in(width(whole)), whole);
    EXPECT_EQ(in(width(whole) - 1), width("1.23K") < width(whole) ? "1.23K" : "1.2K");
    EXPECT_EQ(in(width("1.23K") - 1), "1.2K");
    EXPECT_EQ(in(width("1.2K")), "1.2K");
    EXPECT_EQ(in(width("1K")), "1K");
    EXPECT_EQ(in(width("1K") - 1), "...");
    // Below a thousand nothing is scaled.
    EXPECT_EQ(FormatCount(canvas, QRect(0, 0, width("999") - 1, 10), 999), "...");
    // Millions take M.
    EXPECT_EQ(FormatCount(canvas, QRect(0, 0, width("123.46M"), 10), 123456789), "123.46M");
    EXPECT_EQ(FormatCount(canvas, QRect(0, 0, width("123M"), 10), 123456789), "123M");
}

TEST(CellHelpers, PlainIntegerFormatHasNoSeparators)
{
    TCanvas canvas(CrispFont());
    EXPECT_EQ(FormatInteger(canvas, QRect(0, 0, 200, 10), 1234567), "1234567");
    EXPECT_EQ(FormatInteger(canvas, QRect(0, 0, canvas.TextWidth("1.23M"), 10), 1234567), "1.23M");
    EXPECT_EQ(FormatFixed(canvas, QRect(0, 0, canvas.TextWidth("12.50") - 1, 10), "%f", 12.5), "...");
}

TEST(CellHelpers, BlendColorRoundsHalfToEven)
{
    EXPECT_EQ(BlendColor(clWhite, clRed, 0.5), 0x008080FFu) << "127.5 rounds to the even 128";
    EXPECT_EQ(BlendColor(0x000000, 0x050505, 0.5), 0x00020202u) << "2.5 rounds to the even 2";
    EXPECT_EQ(BlendColor(0x000000, 0x030303, 0.5), 0x00020202u) << "1.5 rounds to the even 2";
    EXPECT_EQ(BlendColor(clWhite, clRed, 2), clRed);
    EXPECT_EQ(BlendColor(clWhite, clRed, -1), clWhite);
    EXPECT_EQ(BlendColor(0x102030, 0x302010, 0.25), 0x00182028u);
}

TEST(CellHelpers, FrameInsetsOnlyCellsWiderThanFourteenPixels)
{
    TCanvas canvas(CrispFont());
    const TCellColors colors{clBlack, clWhite};
    EXPECT_EQ(PaintCellFrame(canvas, QRect(0, 0, 14, 10), colors, false, true), QRect(0, 0, 14, 10));
    EXPECT_EQ(PaintCellFrame(canvas, QRect(0, 0, 15, 10), colors, false, true), QRect(3, 0, 9, 10));
    // A 3-D header cell loses its edge first: 16 wide leaves 14, no inset.
    EXPECT_EQ(PaintCellFrame(canvas, QRect(0, 0, 16, 10), colors, true, true), QRect(1, 1, 14, 8));
    EXPECT_EQ(PaintCellFrame(canvas, QRect(0, 0, 17, 10), colors, true, true), QRect(4, 1, 9, 8));
    EXPECT_EQ(PaintCellFrame(canvas, QRect(0, 0, 16, 10), colors, true, false), QRect(3, 0, 10, 10));
}

// ---- Family behaviour, on the Ferrik grid

TEST_F(GridFamilyTest, EmptyListShowsHeaderAndOneEmptyRowAndIgnoresClicks)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    LinkRecorder links(symbolLinks);
    Show(*owner, grid);
    grid.SetEntries({});

    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(Background(grid, 1, 0), Rgb(grid.FixedColor()));
    EXPECT_TRUE(CellHasColour(grid, 1, 0, Qt::black)) << "header text is black";
    for (int column = 0; column < grid.ColCount(); ++column) {
        EXPECT_EQ(CentreColour(grid, column, 1), Qt::black) << column;
        EXPECT_EQ(CellColours(grid, column, 1).size(), 1) << "nothing drawn in column " << column;
        EXPECT_EQ(DisplayText(grid, column, 1), "");
    }
    Click(grid, 1, 1);
    Click(grid, 1, 0);
    EXPECT_TRUE(links.Symbols.isEmpty());

    // Past the last column both rows show the grid's background.
    const QRect last = grid.CellRect(grid.ColCount() - 1, 0);
    ASSERT_LT(last.right() + 10, grid.width());
    EXPECT_EQ(Pixel(Render(grid), QPoint(last.right() + 5, last.center().y())), Qt::black);
    EXPECT_EQ(Pixel(Render(grid), QPoint(last.right() + 5, last.bottom() + 5)), Qt::black);
}

TEST_F(GridFamilyTest, RowsShowTheListNewestFirstAndLeftClicksForwardTheirSymbol)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    grid.SetTextColor(clRed);
    LinkRecorder links(symbolLinks);
    Show(*owner, grid);
    grid.SetEntries(NewestFirst<TFerrikEntries>({Ferrik("OLD"), Ferrik("NEW")}));

    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(DisplayText(grid, 1, 1), "NEW");
    EXPECT_EQ(DisplayText(grid, 1, 2), "OLD");
    EXPECT_TRUE(CellHasColour(grid, 1, 1, Qt::red));

    Click(grid, 1, 2, Qt::RightButton);
    Click(grid, 3, 1, Qt::MiddleButton);
    EXPECT_TRUE(links.Symbols.isEmpty()) << "only the left button links";
    Click(grid, 3, 2);
    Click(grid, 0, 1);
    EXPECT_EQ(links.Symbols, (QList<QByteArray>{"OLD", "NEW"}));
    Click(grid, 2, 0);
    EXPECT_EQ(links.Symbols.size(), 2) << "the header row forwards nothing";
}

TEST_F(GridFamilyTest, EveryCellOffersItsFullTextToAssistiveTechnology)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    TFerrikEntry entry = Ferrik("MSFT", 0, 3);
    entry.change = 1.26;
    entry.volume = 1234;
    entry.rv = 2;
    entry.bb = 100.5;
    grid.SetEntries(NewestFirst<TFerrikEntries>({entry}));
    grid.SetColWidth(3, 20); // far too narrow for the volume: the text stays whole

    EXPECT_EQ(RowTexts(grid, 0), QStringList({"Time", "Symbol", "%Chg", "Volume", "RV", "BB", "#"}));
    EXPECT_EQ(RowTexts(grid, 1), QStringList({"09:31", "MSFT", "1.3", "1" + Sep() + "234", "2.00", "100.50", "3"}));
}

TEST_F(GridFamilyTest, MissingValuesLeaveCellsEmpty)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    TFerrikEntry entry = Ferrik("X");
    entry.volume = 0;
    entry.count = -4;
    grid.SetEntries(NewestFirst<TFerrikEntries>({entry}));
    for (int column = 2; column < 7; ++column) {
        EXPECT_EQ(DisplayText(grid, column, 1), "") << column;
        EXPECT_EQ(CellColours(grid, column, 1).size(), 1) << column;
    }
}

TEST_F(GridFamilyTest, CountOfTenOrMoreTurnsTheCountCellYellow)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    grid.SetEntries(NewestFirst<TFerrikEntries>({Ferrik("NINE", 0, 9), Ferrik("TEN", 0, 10)}));

    EXPECT_EQ(Background(grid, 6, 1), Qt::yellow);
    EXPECT_TRUE(CellHasColour(grid, 6, 1, Qt::black));
    EXPECT_EQ(Background(grid, 5, 1), Qt::black) << "only the # cell";
    EXPECT_EQ(Background(grid, 6, 2), Qt::black);
    EXPECT_TRUE(CellHasColour(grid, 6, 2, Qt::white));
}

TEST_F(GridFamilyTest, FerrikRankShadesTheRowTowardTheTextColour)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    grid.SetTextColor(clRed);
    Show(*owner, grid);
    grid.SetEntries(NewestFirst<TFerrikEntries>(
        {Ferrik("HALF", 0.5), Ferrik("NEG", -1), Ferrik("FULL", 2, 12), Ferrik("NONE", 0)}));

    // Row 1: rank 0, common colours.
    EXPECT_EQ(Background(grid, 1, 1), Qt::black);
    EXPECT_TRUE(CellHasColour(grid, 1, 1, Qt::red));
    // Row 2: rank 2 paints exactly the text colour, black text; "#" stays yellow.
    EXPECT_EQ(Background(grid, 1, 2), Qt::red);
    EXPECT_TRUE(CellHasColour(grid, 1, 2, Qt::black));
    EXPECT_EQ(CentreColour(grid, 2, 2), Qt::red) << "empty cells of the row are shaded too";
    EXPECT_EQ(Background(grid, 6, 2), Qt::yellow);
    // Row 3: negative rank paints white.
    EXPECT_EQ(Background(grid, 1, 3), Qt::white);
    EXPECT_TRUE(CellHasColour(grid, 1, 3, Qt::black));
    // Row 4: half way from white to pure red.
    EXPECT_EQ(Background(grid, 1, 4), QColor(255, 128, 128));
    EXPECT_EQ(CentreColour(grid, 4, 4), QColor(255, 128, 128));
}

TEST_F(GridFamilyTest, TooWideTextIsCutInsideItsCell)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    grid.SetEntries(NewestFirst<TFerrikEntries>({Ferrik("AVERYLONGSYMBOLNAME")}));
    grid.SetTextColor(clWhite);

    EXPECT_EQ(DisplayText(grid, 1, 1), "AVERYLONGSYMBOLNAME");
    EXPECT_TRUE(CellHasColour(grid, 1, 1, Qt::white));
    EXPECT_EQ(CellColours(grid, 2, 1).size(), 1) << "nothing spills into the next cell";
}

TEST_F(GridFamilyTest, ThrowingLinkHandlerIsReportedAndLeavesTheGridAsItWas)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    grid.SetEntries(NewestFirst<TFerrikEntries>({Ferrik("B"), Ferrik("A")}));
    QStringList reported;
    QObject::connect(&symbolLinks, &TSymbolLinks::LinkFailed, &context,
                     [&](const QString& message) { reported.append(message); });
    OnLink([](const QByteArray&) { throw std::runtime_error("connector gone"); });
    const QImage before = Render(grid);

    Click(grid, 1, 1);

    EXPECT_EQ(reported, QStringList{"connector gone"});
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.Entries().size(), 2);
    EXPECT_EQ(Render(grid), before);
}

TEST_F(GridFamilyTest, LinkErrorWithoutReporterShowsANonModalMessage)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    grid.SetEntries(NewestFirst<TFerrikEntries>({Ferrik("A")}));
    OnLink([](const QByteArray&) { throw std::runtime_error("no connector installed"); });

    Click(grid, 1, 1); // returns: the box does not block

    QMessageBox* shown = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            shown = box;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text(), "no connector installed");
    EXPECT_FALSE(shown->isModal());
    shown->close(); // deletes itself
}

TEST_F(GridFamilyTest, FerrikFollowsFontChanges)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    const QFont big = CrispFont(24);
    TCanvas measure(big);

    owner->setFont(big);

    EXPECT_EQ(grid.DefaultRowHeight(), measure.TextHeight("Xy()") + 4);
    EXPECT_EQ(grid.ColWidth(1), measure.TextWidth("Symbol") + 16);
    EXPECT_EQ(grid.ColWidth(3), measure.TextWidth("100,000,000") + 16);
    EXPECT_EQ(grid.CellRect(0, 1).height(), grid.DefaultRowHeight());
}

TEST_F(GridFamilyTest, WithoutTheThreeDLookColumnsAreNarrower)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    grid.SetCtl3D(false);
    grid.RecomputeLayout();
    EXPECT_EQ(grid.ColWidth(1), grid.Canvas().TextWidth("Symbol") + 12);
    // Without the edge the header cell holds only its colour and its text.
    EXPECT_EQ(CellColours(grid, 1, 0).size(), 2);
}

TEST_F(GridFamilyTest, NoHorizontalScrollBarEverButAVerticalOneWhenRowsOverflow)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    grid.SetColWidth(1, 2000);
    TFerrikEntries many;
    for (int i = 0; i < 200; ++i)
        many.PushFront(Ferrik("S"));
    grid.SetEntries(many);
    QApplication::processEvents();
    EXPECT_FALSE(grid.horizontalScrollBar()->isVisible());
    EXPECT_TRUE(grid.verticalScrollBar()->isVisible());
}

TEST_F(GridFamilyTest, MouseToCellMapsPointsAndRejectsTheRestOfTheControl)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    grid.SetEntries(NewestFirst<TFerrikEntries>({Ferrik("A")}));
    int column = 0, row = 0;
    EXPECT_TRUE(grid.MouseToCell(grid.CellRect(2, 1).center(), column, row));
    EXPECT_EQ(column, 2);
    EXPECT_EQ(row, 1);
    EXPECT_TRUE(grid.MouseToCell(grid.CellRect(4, 0).center(), column, row));
    EXPECT_EQ(column, 4);
    EXPECT_EQ(row, 0);
    const QRect last = grid.CellRect(6, 1);
    EXPECT_FALSE(grid.MouseToCell(QPoint(last.right() + 5, last.center().y()), column, row));
    EXPECT_EQ(column, -1);
    EXPECT_EQ(row, -1);
    EXPECT_FALSE(grid.MouseToCell(QPoint(5, last.bottom() + 30), column, row)) << "below the last row";
}

namespace {
// Counts the data rows painted.
class CountingFerrikGrid : public TFerrikGrid {
public:
    using TFerrikGrid::TFerrikGrid;
    int HighestRowPainted = 0;
    int CellsPainted = 0;

protected:
    void DrawCell(int column, int row, const QRect& rect, TGridDrawState state) override
    {
        HighestRowPainted = std::max(HighestRowPainted, row);
        ++CellsPainted;
        TFerrikGrid::DrawCell(column, row, rect, state);
    }
};
}

TEST_F(GridFamilyTest, PaintingTouchesOnlyTheVisibleRows)
{
    CountingFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    TFerrikEntries many;
    for (int i = 0; i < 5000; ++i)
        many.PushFront(Ferrik("S"));
    grid.SetEntries(many);
    Render(grid);
    const int visibleRows = owner->height() / grid.DefaultRowHeight() + 1;
    EXPECT_LE(grid.HighestRowPainted, visibleRows);
    EXPECT_LE(grid.CellsPainted, (visibleRows + 1) * grid.ColCount());
    EXPECT_GT(grid.CellsPainted, 0);
}

TEST_F(GridFamilyTest, GridNeverSeesLaterChangesOfTheCallersList)
{
    TFerrikGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    TFerrikEntries list = NewestFirst<TFerrikEntries>({Ferrik("A")});
    grid.SetEntries(list);
    list.PushFront(Ferrik("B"));
    list.PushFront(Ferrik("C"));
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(DisplayText(grid, 1, 1), "A");
    EXPECT_EQ(DisplayText(grid, 1, 2), "");
    list.clear();
    EXPECT_EQ(DisplayText(grid, 1, 1), "A");

    // The same for grids holding a plain array.
    TPointsTopListGrid points(owner.get(), symbolLinks);
    TPointsTopListEntries rows(1);
    rows[0].symbol = "P";
    points.SetEntries(rows);
    rows[0].symbol = "Q";
    rows.append(rows[0]);
    EXPECT_EQ(points.RowCount(), 2);
    EXPECT_EQ(DisplayText(points, 0, 1), "P");
}

// ---- The Dravel grid

TEST_F(GridFamilyTest, DravelCells)
{
    TDravelGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    const TDravelEntry noLast{.time = "10:00", .symbol = "NOLAST"};
    const TDravelEntry noPrevClose{
        .time = {}, .symbol = "NOPREV", .last = 12.34, .dollarChange = 12.34, .volume = 5000, .count = 10};
    const TDravelEntry full{
        .time = {}, .symbol = "FULL", .last = 11, .percentChange = 10, .dollarChange = 1, .prevClose = 10};
    grid.SetEntries(NewestFirst<TDravelEntries>({full, noPrevClose, noLast}));

    EXPECT_EQ(RowTexts(grid, 0), QStringList({"Time", "Symbol", "Last", "%Chg", "$Chg", "Volume", "#"}));
    // No last price; then no previous close.
    EXPECT_EQ(RowTexts(grid, 1), QStringList({"10:00", "NOLAST", "", "0.0", "", "", ""}));
    EXPECT_EQ(RowTexts(grid, 2), QStringList({"", "NOPREV", "12.3", "0.0", "12.3", "5" + Sep() + "000", "10"}));
    EXPECT_EQ(Background(grid, 6, 2), Qt::yellow);
    EXPECT_EQ(RowTexts(grid, 3), QStringList({"", "FULL", "11.0", "10.0", "1.0", "", ""}));
    EXPECT_EQ(Background(grid, 1, 3), Qt::black);
    EXPECT_TRUE(CellHasColour(grid, 1, 3, Qt::white));
}

TEST_F(GridFamilyTest, DravelRemeasuresOnFontChangeButLastKeepsTheDefaultWidth)
{
    TDravelGrid grid(owner.get(), symbolLinks);
    Show(*owner, grid);
    EXPECT_EQ(grid.ColWidth(2), 64);
    const QFont big = CrispFont(24);
    owner->setFont(big);
    EXPECT_EQ(grid.ColWidth(1), TCanvas(big).TextWidth("Symbol") + 16);
    EXPECT_EQ(grid.ColWidth(2), 64);
    EXPECT_EQ(grid.DefaultRowHeight(), TCanvas(big).TextHeight("Xy()") + 4);
}
