#include "grids/BollingerGrid.h"

namespace {
enum { colSymbol, colLast, colChange, colBand, ColumnCount };

std::vector<TListColumn> BollingerColumns()
{
    return {{"Symbol", "Symbol", TCellAlign::Left},
            {"Last", "100.00", TCellAlign::Right},
            {"Chg", "-1.93", TCellAlign::Right},
            {"BBand", "-13.3%", TCellAlign::Right}};
}
}

TBollingerGrid::TBollingerGrid(QWidget* owner, TSymbolLinks& links)
    : TListGridOf(owner, links, BollingerColumns(), ColumnCount)
{
    SetBandLabel(QStringLiteral("BBand"));
}

void TBollingerGrid::SetBandLabel(const QString& label)
{
    m_bandLabel = label;
    InvalidateCell(colBand, 0);
}

TColor TBollingerGrid::SignColor(double value)
{
    if (value > 0)
        return BollingerPositive;
    if (value < 0)
        return BollingerNegative;
    return BollingerZero;
}

QString TBollingerGrid::ColumnTitle(int column) const
{
    return column == colBand ? m_bandLabel : TListGridOf::ColumnTitle(column);
}

double TBollingerGrid::ColumnValue(int column, const TBollingerEntry& entry) const
{
    switch (column) {
    case colLast:
        return entry.last;
    case colChange:
        return entry.last - entry.prevClose;
    case colBand:
        return entry.distFromBB;
    }
    return 0; // the symbol is always white
}

TCellContent TBollingerGrid::DataCell(int column, int index) const
{
    const TBollingerEntry& entry = m_entries.at(index);
    if (column == colSymbol)
        return TCellContent::FromBytes(entry.symbol);
    return TCellContent::FromFixed("%f", ColumnValue(column, entry));
}

TCellColors TBollingerGrid::AdjustColors(int column, int, int index, TCellColors colors) const
{
    if (index < 0)
        return colors;
    return {colors.Background, SignColor(ColumnValue(column, m_entries.at(index)))};
}
