#pragma once
// A model of the rows of the alert windows, to check the real ones against:
// one window of every list style (the widget-free TAlertRows, no windows or
// grids) and the full top list's order rule (TTopListOrder) behind the
// top-list rows as its grid keeps it. A run is a sequence of pieces; each
// is one alert text, or a one-byte command: 't' moves the clock 30 s on and
// runs every window's timer, 'c' clears every window, 'f' toggles the top
// list's freezing, 's' sorts it now, 'r' repeats the last text 250 times,
// 'x' puts the last text's symbol on the exclude list.
//
// After every piece the model checks the rows against its own reading of
// the text: the category test, the field split and decoding, which alerts
// are dropped (too many fields, a value too long) and which lists are cut,
// the row each newest-first style adds (and the bound of 1000), the whole
// lists, the Bollinger order, symbol set and expiry, that only the addressed window
// changes and says so exactly when its grid must be handed the rows, that a
// copy handed out before keeps its rows, and what the top list shows, keeps
// pending and names as missing.
//
// The libFuzzer target fuzz_alert_text feeds it the fuzzer's inputs; the
// test of the alert rows feeds it seeded random runs under the compiler the
// program ships with.
#include "Zembra/AlertParsing.h"
#include "Zembra/AlertStyles.h"
#include <QByteArray>
#include <stdexcept>

namespace AlertRowsModel {

// A rule the rows broke: the rule's text, file and line.
class TBrokenRule : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The category of the window of a style ("strike", "bollinger", "symbol",
// "pointslist", "simplelist", "ferrik", "quent", "dravel").
QByteArray CategoryOf(TAlertStyle style);

// Empty windows, a top list without an order, an empty exclude list and the
// clock at the same moment.
void Start();
// One piece of a run. Throws TBrokenRule when the rows and the model differ;
// Start again after that.
void Step(const QByteArray& piece);

} // namespace AlertRowsModel
