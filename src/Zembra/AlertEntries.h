#pragma once
// The rows an alert window keeps and its grid shows, one record per list
// style. A missing or unreadable number is NaN (an empty cell), a missing
// count 0 (shown only above 0). Widget-free: the rows are built and tested
// without any grid.
#include "Shared/NewestFirstList.h"
#include "Shared/ShortText.h"
#include <QByteArray>
#include <QVector>
#include <limits>

inline constexpr double NoNumber = std::numeric_limits<double>::quiet_NaN();

// The strike list's row; the symbol-only board keeps the same record.
struct TVantorEntry {
    QByteArray symbol;
    double last = NoNumber;
    double prevClose = NoNumber;
    double extra = NoNumber;
    TShortText time;
};
// Newest first, as the alert window keeps them.
using TVantorEntries = TNewestFirstList<TVantorEntry>;

struct TFerrikEntry {
    TShortText time;
    QByteArray symbol;
    double change = NoNumber;
    double bb = NoNumber;
    qint32 volume = 0;
    qint32 count = 0;
    double rank = 0; // shading weight: 0 none, 1 full
    double rv = NoNumber;
};
using TFerrikEntries = TNewestFirstList<TFerrikEntry>;

struct TDravelEntry {
    TShortText time;
    QByteArray symbol;
    double last = NoNumber;
    double percentChange = 0;
    double dollarChange = NoNumber;
    qint32 volume = 0;
    qint32 count = 0;
    double prevClose = 0;
};
using TDravelEntries = TNewestFirstList<TDravelEntry>;

struct TBollingerEntry {
    QByteArray symbol;
    double last = NoNumber;
    double prevClose = NoNumber;
    double distFromBB = NoNumber;
    double received = 0; // days since 30 December 1899; used for expiry only
};
using TBollingerEntries = QVector<TBollingerEntry>;

// The points list's row (a whole list per alert) and the simple list's (one
// row per alert, newest first, percentVol always 0).
struct TPointsTopListEntry {
    QByteArray symbol;
    double last = NoNumber;
    double change = NoNumber;
    double percentVol = NoNumber;
};
using TPointsTopListEntries = QVector<TPointsTopListEntry>;
using TSimpleListEntries = TNewestFirstList<TPointsTopListEntry>;

struct TQuentTopListEntry {
    QByteArray symbol;
    double priceSpike = NoNumber;
    double volRate = NoNumber; // 1 is the neutral point of the colour scale
    double todaysRange = NoNumber;
    double openingRange = NoNumber;
    double strength = NoNumber;
    double upTrend = NoNumber;
    double nearHigh = NoNumber;
    double nearLow = NoNumber;
    double newHigh = NoNumber; // fraction 0 to 1
    double newLow = NoNumber;  // fraction 0 to 1
    double last = NoNumber;
    double change = NoNumber;
    qint32 volume = 0;
    qint32 count = 0;
};
// Implicitly shared: handing a list on costs O(1), and the receiver never
// sees later changes of the sender's list.
using TQuentTopListEntries = QVector<TQuentTopListEntry>;

// Texts and numbers only: a list moves its rows as plain memory.
Q_DECLARE_TYPEINFO(TVantorEntry, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(TFerrikEntry, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(TDravelEntry, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(TBollingerEntry, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(TPointsTopListEntry, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(TQuentTopListEntry, Q_RELOCATABLE_TYPE);
