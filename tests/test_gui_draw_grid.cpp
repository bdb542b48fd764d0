// The owner-drawn grid adapter on its own: cell painting through DrawCell,
// whole-row selection, mouse releases, and errors kept inside the grid.
#include "GuiGridProbe.h"
#include "base/DebugLog.h"
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>
#include <climits>
#include <stdexcept>

using namespace GridProbe;

namespace {

// Paints each cell in a colour made of its coordinates; rows past 10 are
// "broken" and throw while painting.
class ProbeGrid : public TDrawGrid {
public:
    explicit ProbeGrid(QWidget* parent) : TDrawGrid(parent)
    {
        SetColCount(3);
        SetRowCount(40);
        SetDefaultRowHeight(20);
    }
    QList<QPoint> Selections;
    QList<QPoint> Releases;
    QList<int> SelectedRowsPainted;
    bool ThrowInPaint = false;

    QString CellText(int column, int row) const override { return QStringLiteral("c%1r%2").arg(column).arg(row); }

protected:
    void DrawCell(int column, int row, const QRect& rect, TGridDrawState state) override
    {
        if (ThrowInPaint)
            throw std::runtime_error("broken cell");
        if (state.Selected && !SelectedRowsPainted.contains(row))
            SelectedRowsPainted.append(row);
        Canvas().SetBrushColor(state.Fixed ? clYellow : TColor(0x000000 | (row * 5) << 8 | column * 40));
        Canvas().FillRect(rect);
    }
    void SelectCell(int column, int row) override { Selections.append({column, row}); }
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, const QPoint& point) override
    {
        int column = -1, row = -1;
        if (button == Qt::LeftButton && MouseToCell(point, column, row))
            Releases.append({column, row});
    }
};

} // namespace

TEST(DrawGrid, CellsArePaintedByTheGridAndReadableAsText)
{
    auto owner = MakeOwner(300, 200);
    ProbeGrid grid(owner.get());
    Show(*owner, grid);
    EXPECT_EQ(grid.DefaultColWidth(), 64);
    EXPECT_EQ(grid.ColWidth(2), 64);
    EXPECT_TRUE(grid.Ctl3D());
    EXPECT_EQ(CentreColour(grid, 1, 0), Qt::yellow);
    EXPECT_EQ(CentreColour(grid, 2, 3), QColor(80, 15, 0));
    EXPECT_EQ(DisplayText(grid, 2, 0), "c2r0");
    EXPECT_EQ(DisplayText(grid, 1, 39), "c1r39");
    EXPECT_EQ(grid.model()->rowCount(), 39);
}

TEST(DrawGrid, WholeRowSelectionFollowsMouseAndKeyboard)
{
    auto owner = MakeOwner(300, 200);
    ProbeGrid grid(owner.get());
    grid.SetRowSelect(true);
    Show(*owner, grid);

    Click(grid, 1, 2);
    ASSERT_FALSE(grid.Selections.isEmpty());
    EXPECT_EQ(grid.Selections.last(), QPoint(1, 2));
    EXPECT_EQ(grid.Row(), 2);
    Render(grid);
    EXPECT_EQ(grid.SelectedRowsPainted, QList<int>{2}) << "the whole row, and only it, is selected";

    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(grid.Selections.last(), QPoint(1, 3));

    grid.SetRow(INT_MAX);
    EXPECT_EQ(grid.Row(), -1);
    grid.SelectedRowsPainted.clear();
    Render(grid);
    EXPECT_TRUE(grid.SelectedRowsPainted.isEmpty());

    grid.SetTopRow(10);
    EXPECT_EQ(grid.TopRow(), 10);
    int column = -1, row = -1;
    ASSERT_TRUE(grid.MouseToCell(grid.CellRect(0, 10).center(), column, row));
    EXPECT_EQ(row, 10);
}

TEST(DrawGrid, ListGridsHaveNoSelection)
{
    auto owner = MakeOwner(300, 200);
    ProbeGrid grid(owner.get());
    Show(*owner, grid);
    Click(grid, 1, 2);
    Render(grid);
    EXPECT_TRUE(grid.Selections.isEmpty());
    EXPECT_TRUE(grid.SelectedRowsPainted.isEmpty());
    EXPECT_EQ(grid.Releases, (QList<QPoint>{{1, 2}}));
    Click(grid, 2, 0);
    EXPECT_EQ(grid.Releases.last(), QPoint(2, 0)) << "releases on the header row arrive too";
}

TEST(DrawGrid, ColumnsAreSizedByDraggingInTheHeaderUnlessSwitchedOff)
{
    auto owner = MakeOwner(300, 200);
    ProbeGrid grid(owner.get());
    Show(*owner, grid);
    QWidget* header = grid.horizontalHeader()->viewport();
    const QPoint border(grid.ColWidth(0) - 1, grid.DefaultRowHeight() / 2);
    QTest::mousePress(header, Qt::LeftButton, {}, border);
    QMouseEvent move(QEvent::MouseMove, QPointF(border + QPoint(30, 0)), header->mapToGlobal(QPointF(border + QPoint(30, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header, &move);
    QTest::mouseRelease(header, Qt::LeftButton, {}, border + QPoint(30, 0));
    EXPECT_EQ(grid.ColWidth(0), 64 + 30);

    grid.SetColumnSizing(false);
    EXPECT_EQ(grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
}

TEST(DrawGrid, AnErrorWhilePaintingIsLoggedAndPaintingGoesOn)
{
    auto owner = MakeOwner(300, 200);
    ProbeGrid grid(owner.get());
    Show(*owner, grid);
    QStringList log;
    auto debugSink = std::make_unique<TDebugSinkScope>([&](const QString& line) { log.append(line); });
    grid.ThrowInPaint = true;
    Render(grid);
    grid.ThrowInPaint = false;
    debugSink.reset();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log.first().contains("broken cell"));
    EXPECT_EQ(CentreColour(grid, 1, 0), Qt::yellow);
}

TEST(DrawGrid, ColoursConvertFromTheWindowsLayout)
{
    EXPECT_EQ(ToQColor(0x00FF8040), QColor(0x40, 0x80, 0xFF));
    EXPECT_EQ(FromQColor(QColor(0x40, 0x80, 0xFF)), 0x00FF8040u);
}
