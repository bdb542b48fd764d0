#include "grids/VantorGrid.h"
#include <cmath>

namespace {
enum { colSymbol, colLast, colChange, colPercent, colExtra, colTime, ColumnCount };

std::vector<TListColumn> VantorColumns()
{
    return {{"Symbol", "Symbol", TCellAlign::Left}, {"Last", "100.00", TCellAlign::Right},
            {"Chg", "-1.93", TCellAlign::Right},    {"%Chg", "-13.3%", TCellAlign::Right},
            {"Divrg", "-0.12", TCellAlign::Right},  {"Time", "00:00:00", TCellAlign::Left}};
}
}

TVantorGrid::TVantorGrid(QWidget* owner, TSymbolLinks& links) : TListGridOf(owner, links, VantorColumns(), ColumnCount)
{}

void TVantorGrid::SetExtraColumnName(const QString& name)
{
    m_extraColumnName = name;
    InvalidateCell(colExtra, 0);
}

void TVantorGrid::SetExtraColumnFormat(const QString& format)
{
    m_extraColumnFormat = format;
    InvalidateGrid();
}

QString TVantorGrid::ColumnTitle(int column) const
{
    if (column == colExtra && !m_extraColumnName.isEmpty())
        return m_extraColumnName;
    return TListGridOf::ColumnTitle(column);
}

TCellContent TVantorGrid::ExtraCell(double extra) const
{
    if (std::isnan(extra))
        return TCellContent::None();
    if (m_extraColumnFormat != QLatin1String("I"))
        return TCellContent::FromFixed("%f", extra);
    // Truncation toward zero; a value with no 64-bit integer form shows "...".
    const double whole = std::trunc(extra);
    if (!std::isfinite(whole) || std::fabs(whole) >= 9.2e18)
        return TCellContent::Unconvertible();
    return TCellContent::FromInteger(qint64(whole));
}

TCellContent TVantorGrid::DataCell(int column, int index) const
{
    const TVantorEntry& entry = m_entries.at(index);
    const double change = entry.last - entry.prevClose; // NaN unless both are numbers
    switch (column) {
    case colSymbol:
        return TCellContent::FromBytes(entry.symbol);
    case colLast:
        return TCellContent::FromFixed("%f", entry.last);
    case colChange:
        return TCellContent::FromFixed("%f", change);
    case colPercent:
        if (entry.prevClose == 0)
            return TCellContent::None();
        return TCellContent::FromFixed("%f%%", change / entry.prevClose * 100);
    case colExtra:
        return ExtraCell(entry.extra);
    case colTime:
        return TCellContent::FromClipped(entry.time.View());
    }
    return TCellContent::None();
}

TCellColors TVantorGrid::AdjustColors(int, int row, int index, TCellColors colors) const
{
    if (row == 1 && index >= 0)
        return Swapped(colors);
    return colors;
}
