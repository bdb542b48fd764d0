#pragma once
// The grid of each list style, one row of a table each: which grid shows the
// style's rows, which of the window's keys set it up and how rows are handed
// to it. The style's rows are made here too, so that the hand-over is bound
// with both types known. What a style is (its "display" value, clear rule and
// row limit) is the session's table (AlertStyles).
#include "Zembra/AlertRows.h"

#include <QByteArray>
#include <functional>
#include <memory>

class QWidget;
class TIniFile;
class TListGrid;
class TQuentTopListFullGrid;
class TPriceSpikeSound;
class TSymbolLinks;

// Where the grids send what the trader asks of them; both outlive the grid.
struct TGridRequests {
    TSymbolLinks& SymbolLinks;         // a clicked symbol
    TPriceSpikeSound& PriceSpikeSound; // the full top list's spike sound
};

// A window's rows and the grid that shows them, bound together.
struct TStyleGrid {
    std::unique_ptr<TAlertRows> Rows;
    // Laid out in the window, which owns it.
    TListGrid* Grid = nullptr;
    // Hands the rows to the grid.
    std::function<void()> HandRows;
    // The full top list's grid, none for the other styles: it takes every
    // list as it comes, and the window's menu and clock reach it.
    TQuentTopListFullGrid* TopList = nullptr;
};

// Makes the rows of `style` and its grid in `window`, the grid set up from
// the window's section of the configuration.
TStyleGrid MakeStyleGrid(const TListStyle& style, const TRowsSetup& rows, QWidget& window,
                         const TGridRequests& requests, const TIniFile& ini, const QByteArray& section);
