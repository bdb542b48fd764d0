#pragma once
// The list styles of an alert window, one row of a table each: the "display"
// value that chooses the style, whether "Clear Window" applies, how many rows
// it keeps and how its rows are made. A new style is one row here, one rows
// class (AlertRows) and one row in the window's table of grids
// (AlertStyleGrids) with its grid class.
#include <QByteArray>
#include <QtGlobal>
#include <memory>
#include <span>

enum TAlertStyle : quint8 {
    asStrike = 0,
    asBollinger = 1,
    asSymbolOnly = 2,
    asPointsList = 3,
    asSimpleList = 4,
    asFerrik = 5,
    asQuentFull = 6,
    asDravel = 7,
};

// Rows kept by the strike, symbol-only and simple-list styles.
inline constexpr qsizetype MaxNewestFirstRows = 1000;
// The alert key of the strike list's extra column unless the window names
// another; the symbol-only board always reads this one.
inline constexpr char DefaultExtraColumnKey[] = "sma_divergence";

class TAlertRows;
struct TRowsSetup;

struct TListStyle {
    TAlertStyle Style;
    // The "display" value that chooses the style (exact, letter case
    // matters); none for the strike style, which every other value chooses.
    const char* Display;
    // Whether "Clear Window" empties the list.
    bool HasClearCommand;
    // The most rows the list keeps; 0 keeps every row.
    qsizetype RowLimit;
    // The style's rows, which keep this row of the table for its rules.
    std::unique_ptr<TAlertRows> (*MakeRows)(const TListStyle& style, const TRowsSetup& setup);
};

// Every style, in the order of TAlertStyle.
std::span<const TListStyle> ListStyles();
const TListStyle& ListStyleOf(TAlertStyle style);
// The style chosen by a "display" value; anything unknown is the strike style.
const TListStyle& StyleFromDisplay(const QByteArray& display);
// The rows of a style, made through its row of the table.
std::unique_ptr<TAlertRows> MakeAlertRows(TAlertStyle style, const TRowsSetup& setup);

// The grid text colour of a "color" value: decimal, or hexadecimal after a
// leading "$", in the 0x00BBGGRR layout; empty or unreadable gives white.
quint32 ReadColorSetting(const QByteArray& text);
