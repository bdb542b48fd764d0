#pragma once
// The Dravel simple list: one row per alert, newest first, with the last
// price and its change in percent and in dollars.
#include "grids/ListGridFamily.h"
#include "Shared/NewestFirstList.h"
#include <limits>

struct TDravelEntry {
    QByteArray time;
    QByteArray symbol;
    double last = std::numeric_limits<double>::quiet_NaN();
    double percentChange = 0;
    double dollarChange = std::numeric_limits<double>::quiet_NaN();
    qint32 volume = 0;
    qint32 count = 0;
    double prevClose = 0;
};
// Newest first, as the alert window keeps them.
using TDravelEntries = TNewestFirstList<TDravelEntry>;

class TDravelGrid : public TListGridOf<TDravelEntry, TDravelEntries> {
public:
    explicit TDravelGrid(QWidget* owner);

protected:
    TCellContent DataCell(int column, int index) const override;
    TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const override;
};
