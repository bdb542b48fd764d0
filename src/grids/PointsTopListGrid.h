#pragma once
// Symbols with last price and change, optionally with percent volume: the
// grid of the points lists and of the plain simple list.
#include "grids/ListGridFamily.h"
#include <limits>

struct TPointsTopListEntry {
    QByteArray symbol;
    double last = std::numeric_limits<double>::quiet_NaN();
    double change = std::numeric_limits<double>::quiet_NaN();
    double percentVol = std::numeric_limits<double>::quiet_NaN();
};
using TPointsTopListEntries = QVector<TPointsTopListEntry>;

class TPointsTopListGrid : public TListGridOf<TPointsTopListEntry> {
public:
    explicit TPointsTopListGrid(QWidget* owner);

    // Adds the "%Vol" column and measures it; there is no way back.
    void ShowVolumeColumn();

protected:
    TCellContent DataCell(int column, int index) const override;
};
