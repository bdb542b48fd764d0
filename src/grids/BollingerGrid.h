#pragma once
// The Bollinger-band list: one row per symbol of a set the server maintains,
// every number coloured by its sign.
#include "Zembra/AlertEntries.h"
#include "grids/ListGridFamily.h"

inline constexpr TColor BollingerPositive = 0x0064FF64;
inline constexpr TColor BollingerNegative = 0x004B4BFF;
inline constexpr TColor BollingerZero = 0x00FFFFFF;

class TBollingerGrid : public TListGridOf<TBollingerEntry> {
public:
    TBollingerGrid(QWidget* owner, TSymbolLinks& links);

    // The sign colours decide every data text; the window's text colour has no place here.
    void SetTextColor(TColor) = delete;

    const QString& BandLabel() const { return m_bandLabel; }
    // The header of the distance column; repaints that header cell only.
    void SetBandLabel(const QString& label);

    static TColor SignColor(double value);

protected:
    QString ColumnTitle(int column) const override;
    TCellContent DataCell(int column, int index) const override;
    TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const override;

private:
    double ColumnValue(int column, const TBollingerEntry& entry) const;

    QString m_bandLabel;
};
