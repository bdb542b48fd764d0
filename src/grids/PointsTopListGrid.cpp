#include "grids/PointsTopListGrid.h"
#include <cmath>

namespace {
enum { colSymbol, colLast, colChange, colVolume, ColumnCount };

std::vector<TListColumn> PointsColumns()
{
    return {{"Symbol", "Symbol", TCellAlign::Left},
            {"Last", "100.00", TCellAlign::Right},
            {"Chg", "-1.93", TCellAlign::Right},
            {"%Vol", "1000.00%", TCellAlign::Right}};
}
}

TPointsTopListGrid::TPointsTopListGrid(QWidget* owner, TSymbolLinks& links)
    : TListGridOf(owner, links, PointsColumns(), ColumnCount - 1)
{
    BindFontChange(true);
}

void TPointsTopListGrid::ShowVolumeColumn()
{
    SetColCount(ColumnCount);
    ApplyColumnSamples();
    InvalidateGrid();
}

TCellContent TPointsTopListGrid::DataCell(int column, int index) const
{
    const TPointsTopListEntry& entry = m_entries.at(index);
    switch (column) {
    case colSymbol:
        return TCellContent::FromBytes(entry.symbol);
    case colLast:
        return TCellContent::FromFixed("%f", entry.last);
    case colChange:
        if (std::isnan(entry.last))
            return TCellContent::None();
        return TCellContent::FromFixed("%f", entry.change);
    case colVolume:
        return TCellContent::FromFixed("%f%%", entry.percentVol);
    }
    return TCellContent::None();
}
