#pragma once
// The symbol-only board: equal cells filled like a ring, down each column and
// on to the next; the newest symbol is drawn inverted. The board's shape
// follows the window's size and it never scrolls.
#include "grids/VantorGrid.h"

class TSymbolOnlyGrid : public TListGridOf<TVantorEntry, TVantorEntries> {
public:
    TSymbolOnlyGrid(QWidget* owner, TSymbolLinks& links);

    void SetEntries(const TVantorEntries& entries) override;
    // The board after `added` alerts that each put a row on top, ending with
    // `entries`: the same as `added` calls of SetEntries, one per alert.
    void AddEntries(const TVantorEntries& entries, int added);
    // Reshapes the board to the control's size; when forced or when the shape
    // changed, the newest entries are laid out again from cell 0.
    void FitToSize(bool force);
    // Whether the cell shows an entry, and which one.
    bool CellToEntry(int column, int row, int& index) const;

    int RingPosition() const { return m_ringPosition; }
    // The number of data cells: (rows - 1) x columns, never 0.
    int Capacity() const;

protected:
    QString ColumnTitle(int column) const override;
    TCellContent DataCell(int column, int index) const override;
    TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const override;
    bool CellToEntryIndex(int column, int row, int& index) const override;
    void SizeChanged() override;

private:
    int m_ringPosition = -1;
    bool m_everFilled = false;
};
