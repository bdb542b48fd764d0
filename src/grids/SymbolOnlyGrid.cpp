#include "grids/SymbolOnlyGrid.h"
#include <algorithm>

namespace {
constexpr int BoardColumns = 6;

std::vector<TListColumn> BoardColumnsTable()
{
    return std::vector<TListColumn>(BoardColumns, TListColumn{"Symbol", nullptr, TCellAlign::Left});
}
}

TSymbolOnlyGrid::TSymbolOnlyGrid(QWidget* owner, TSymbolLinks& links)
    : TListGridOf(owner, links, BoardColumnsTable(), BoardColumns)
{
    SetColumnSizing(false);
    SetVerticalScrollBarAllowed(false);
    if (owner) {
        SetDefaultColWidth(MeasureColumnWidth(QStringLiteral("Symbol")));
        FitToSize(true);
    }
}

int TSymbolOnlyGrid::Capacity() const { return std::max(1, (RowCount() - FixedRows()) * ColCount()); }

void TSymbolOnlyGrid::FitToSize(bool force)
{
    const int oldRows = RowCount();
    const int oldColumns = ColCount();
    SetColCount(std::max(FixedCols() + 1, width() / std::max(DefaultColWidth(), 1)));
    SetRowCount(std::max(FixedRows() + 1, height() / std::max(DefaultRowHeight(), 1)));
    if (force || RowCount() != oldRows || ColCount() != oldColumns) {
        m_ringPosition = std::min(EntryCount(), Capacity()) - 1;
        InvalidateGrid();
    }
}

void TSymbolOnlyGrid::SetEntries(const TVantorEntries& entries) { AddEntries(entries, 1); }

void TSymbolOnlyGrid::AddEntries(const TVantorEntries& entries, int added)
{
    if (entries.isEmpty()) {
        m_entries = entries;
        FitToSize(true);
        return;
    }
    if (!m_everFilled) {
        FitToSize(true);
        m_everFilled = true;
    }
    m_entries = entries;
    m_ringPosition = int((qint64(m_ringPosition) + std::max(added, 0)) % Capacity());
    InvalidateGrid();
}

bool TSymbolOnlyGrid::CellToEntry(int column, int row, int& index) const
{
    const int capacity = Capacity();
    const int cell = column * (RowCount() - FixedRows()) + row - 1;
    int position = m_ringPosition - cell;
    if (position < 0)
        position += capacity;
    index = position;
    return row != 0 && position >= 0 && position < EntryCount();
}

bool TSymbolOnlyGrid::CellToEntryIndex(int column, int row, int& index) const
{
    return CellToEntry(column, row, index);
}

QString TSymbolOnlyGrid::ColumnTitle(int) const { return QStringLiteral("Symbol"); }

TCellContent TSymbolOnlyGrid::DataCell(int, int index) const
{
    return TCellContent::FromBytes(m_entries.at(index).symbol);
}

TCellColors TSymbolOnlyGrid::AdjustColors(int, int, int index, TCellColors colors) const
{
    return index == 0 ? Swapped(colors) : colors;
}

void TSymbolOnlyGrid::SizeChanged() { FitToSize(false); }
