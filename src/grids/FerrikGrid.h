#pragma once
// The Ferrik simple list: one row per alert, newest first, with rank shading.
#include "Zembra/AlertEntries.h"
#include "grids/ListGridFamily.h"

class TFerrikGrid : public TListGridOf<TFerrikEntry, TFerrikEntries> {
public:
    TFerrikGrid(QWidget* owner, TSymbolLinks& links);

protected:
    TCellContent DataCell(int column, int index) const override;
    TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const override;
};
