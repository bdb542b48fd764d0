#pragma once
// The strike grid, the default list: one row per alert, newest first and
// drawn inverted, with one configurable extra column.
#include "Zembra/AlertEntries.h"
#include "grids/ListGridFamily.h"

class TVantorGrid : public TListGridOf<TVantorEntry, TVantorEntries> {
public:
    TVantorGrid(QWidget* owner, TSymbolLinks& links);

    // The header of the extra column; empty shows "Divrg".
    const QString& ExtraColumnName() const { return m_extraColumnName; }
    void SetExtraColumnName(const QString& name);
    // "I" (exactly) shows the extra value as an integer, anything else with two decimals.
    const QString& ExtraColumnFormat() const { return m_extraColumnFormat; }
    void SetExtraColumnFormat(const QString& format);

protected:
    QString ColumnTitle(int column) const override;
    TCellContent DataCell(int column, int index) const override;
    TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const override;

private:
    TCellContent ExtraCell(double extra) const;

    QString m_extraColumnName;
    QString m_extraColumnFormat;
};
