#include "grids/FerrikGrid.h"

namespace {
enum { colTime, colSymbol, colChange, colVolume, colRV, colBB, colCount, ColumnCount };

std::vector<TListColumn> FerrikColumns()
{
    return {{"Time", "00:00", TCellAlign::Right},        {"Symbol", "Symbol", TCellAlign::Left},
            {"%Chg", "-1.93", TCellAlign::Right},        {"Volume", "100,000,000", TCellAlign::Right},
            {"RV", "10.00", TCellAlign::Right},          {"BB", "100.00", TCellAlign::Right},
            {"#", "10", TCellAlign::Right}};
}
}

TFerrikGrid::TFerrikGrid(QWidget* owner, TSymbolLinks& links) : TListGridOf(owner, links, FerrikColumns(), ColumnCount)
{
    BindFontChange(true);
}

TCellContent TFerrikGrid::DataCell(int column, int index) const
{
    const TFerrikEntry& entry = m_entries.at(index);
    switch (column) {
    case colTime:
        return TCellContent::FromBytes(entry.time.View());
    case colSymbol:
        return TCellContent::FromBytes(entry.symbol);
    case colChange:
        return TCellContent::FromFixed("%.01f", entry.change);
    case colVolume:
        return TCellContent::FromCount(entry.volume);
    case colRV:
        return TCellContent::FromFixed("%f", entry.rv);
    case colBB:
        return TCellContent::FromFixed("%f", entry.bb);
    case colCount:
        return TCellContent::FromCount(entry.count);
    }
    return TCellContent::None();
}

TCellColors TFerrikGrid::AdjustColors(int column, int, int index, TCellColors colors) const
{
    if (index < 0)
        return colors;
    const TFerrikEntry& entry = m_entries.at(index);
    if (column == colCount && IsHighCount(entry.count))
        return HighCountColors;
    if (entry.rank != 0)
        return {BlendColor(clWhite, TextColor(), entry.rank), clBlack};
    return colors;
}
