#pragma once
// The Dravel simple list: one row per alert, newest first, with the last
// price and its change in percent and in dollars.
#include "Zembra/AlertEntries.h"
#include "grids/ListGridFamily.h"

class TDravelGrid : public TListGridOf<TDravelEntry, TDravelEntries> {
public:
    TDravelGrid(QWidget* owner, TSymbolLinks& links);

protected:
    TCellContent DataCell(int column, int index) const override;
    TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const override;
};
