#include "grids/DravelGrid.h"

namespace {
enum { colTime, colSymbol, colLast, colPercent, colDollar, colVolume, colCount, ColumnCount };

std::vector<TListColumn> DravelColumns()
{
    // "Last" has no sample: it keeps the default width through font changes.
    return {{"Time", "00:00", TCellAlign::Right},   {"Symbol", "Symbol", TCellAlign::Left},
            {"Last", nullptr, TCellAlign::Right},   {"%Chg", "-1.93", TCellAlign::Right},
            {"$Chg", "-1.93", TCellAlign::Right},   {"Volume", "100,000,000", TCellAlign::Right},
            {"#", "10", TCellAlign::Right}};
}
}

TDravelGrid::TDravelGrid(QWidget* owner, TSymbolLinks& links) : TListGridOf(owner, links, DravelColumns(), ColumnCount)
{
    BindFontChange(true);
}

TCellContent TDravelGrid::DataCell(int column, int index) const
{
    const TDravelEntry& entry = m_entries.at(index);
    switch (column) {
    case colTime:
        return TCellContent::FromBytes(entry.time.View());
    case colSymbol:
        return TCellContent::FromBytes(entry.symbol);
    case colLast:
        return TCellContent::FromFixed("%.01f", entry.last);
    case colPercent:
        return TCellContent::FromFixed("%.01f", entry.percentChange);
    case colDollar:
        return TCellContent::FromFixed("%.01f", entry.dollarChange);
    case colVolume:
        return TCellContent::FromCount(entry.volume);
    case colCount:
        return TCellContent::FromCount(entry.count);
    }
    return TCellContent::None();
}

TCellColors TDravelGrid::AdjustColors(int column, int, int index, TCellColors colors) const
{
    if (index >= 0 && column == colCount && IsHighCount(m_entries.at(index).count))
        return HighCountColors;
    return colors;
}
