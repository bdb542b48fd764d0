#pragma once
// The Ferrik simple list: one row per alert, newest first, with rank shading.
#include "grids/ListGridFamily.h"
#include "Shared/NewestFirstList.h"
#include <limits>

struct TFerrikEntry {
    QByteArray time;
    QByteArray symbol;
    double change = std::numeric_limits<double>::quiet_NaN();
    double bb = std::numeric_limits<double>::quiet_NaN();
    qint32 volume = 0;
    qint32 count = 0;
    double rank = 0; // shading weight: 0 none, 1 full
    double rv = std::numeric_limits<double>::quiet_NaN();
};
// Newest first, as the alert window keeps them.
using TFerrikEntries = TNewestFirstList<TFerrikEntry>;

class TFerrikGrid : public TListGridOf<TFerrikEntry, TFerrikEntries> {
public:
    explicit TFerrikGrid(QWidget* owner);

protected:
    TCellContent DataCell(int column, int index) const override;
    TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const override;
};
