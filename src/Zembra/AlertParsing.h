#pragma once
// The widget-free rules of an alert window: the list styles, the reading of
// an alert text into decoded fields, the conversions of field values, and the
// ordering of the Bollinger list. The window (AlertWindowUnit) puts them
// together with its grids.
#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>

class tHashTable;

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
// How long a Bollinger row stays after its last "add", in milliseconds.
inline constexpr qint64 BollingerLifetimeMs = 2 * 60 * 1000;
// Room of a fresh top list; doubled whenever it fills up.
inline constexpr qsizetype InitialQuentRows = 55;

// The style chosen by a "display" value (exact, letter case matters);
// anything unknown is the strike style.
TAlertStyle StyleFromDisplay(const QByteArray& display);
// Whether "Clear Window" applies to the style.
bool StyleHasClearCommand(TAlertStyle style);
// Whether the style keeps at most MaxNewestFirstRows rows.
bool StyleIsBounded(TAlertStyle style);

// The grid text colour of a "color" value: decimal, or hexadecimal after a
// leading "$", in the 0x00BBGGRR layout; empty or unreadable gives white.
quint32 ReadColorSetting(const QByteArray& text);

// What one alert may hold. An alert past either limit is dropped whole:
// thousands of field names that collide in the hash table would cost a
// quadratic walk of one chain (minutes for one frame of 45,000 names), and
// a megabyte of text in a cell would be measured again at every repaint.
// Real alerts hold a few to a thousand short fields (a top list of 60 rows
// holds 900); at the limit, fields that all collide cost about 15 ms.
inline constexpr qsizetype MaxAlertFields = 2048;     // pieces between "&", skipped ones included
inline constexpr qsizetype MaxAlertFieldBytes = 1024; // one piece as it arrives: name, "=", value
// The longest field line that keeps both limits.
inline constexpr qsizetype MaxAlertFieldLineBytes = MaxAlertFields * (MaxAlertFieldBytes + 1) - 1;

// When the first line of the alert text (up to the first CR LF, or the whole
// text) equals the subscription exactly, stores the field line (up to the
// next CR LF) and returns true; otherwise returns false. Looks at no more of
// the text than that needs: a field line longer than MaxAlertFieldLineBytes
// is stored cut after one byte more, which breaks the limits all the same.
bool CutFieldLine(const QByteArray& data, const QByteArray& subscription, QByteArray* fieldLine);
// Whether the field line keeps the limits above.
bool AlertWithinLimits(QByteArrayView fieldLine);

using TAlertFieldVisitor = std::function<void(const QByteArray& name, const QByteArray& value)>;
// Splits the field line at "&" and each piece at its first "="; pieces
// without "=" are skipped. Calls the visitor with the percent-decoded name and
// value of each field, in order.
void ForEachAlertField(const QByteArray& fieldLine, const TAlertFieldVisitor& visit);
// Stores every field of the line in the table; a later field with the same
// name replaces the earlier value.
void ReadAlertFields(const QByteArray& fieldLine, tHashTable& fields);

// A number field: a decimal with "." as the point; empty, unreadable or not
// finite gives NaN.
double ReadAlertNumber(const QByteArray& text);
// A number field whose missing or bad value reads as 0.
double ReadAlertNumberOrZero(const QByteArray& text);
// A count field: a decimal 32-bit integer; empty, unreadable or out of range gives 0.
qint32 ReadAlertCount(const QByteArray& text);
// The key of row n in a whole-list alert: "symbol" and 0 give "symbol0".
// Built in place, without a heap allocation: a top-list alert looks up
// fourteen such keys for each of up to sixty rows.
class TNumberedKey {
public:
    TNumberedKey(const char* key, qsizetype n);
    operator QByteArrayView() const { return QByteArrayView(m_text, m_size); }
    friend bool operator==(const TNumberedKey& key, QByteArrayView text) { return QByteArrayView(key) == text; }

private:
    char m_text[64];
    qsizetype m_size = 0;
};
inline TNumberedKey NumberedKey(const char* key, qsizetype n) { return TNumberedKey(key, n); }

// The Dravel list's derived changes.
double DravelPercentChange(double last, double prevClose);
double DravelDollarChange(double last, double prevClose);

// Bollinger order: by absolute distance, largest first; equal distances by
// symbol in byte order. `rows` needs size(), operator[] and a move-assignable
// entry with `symbol` and `distFromBB`.
//
// The position the row should take: the first row that does not sort before
// it. A row without a distance (NaN) goes to the front; rows without a
// distance stay in front of every row that has one, so the rows with a
// distance keep their order whatever the others do.
template <typename Rows, typename Entry>
qsizetype BollingerTarget(const Rows& rows, const Entry& row)
{
    const double wanted = std::fabs(row.distFromBB);
    if (std::isnan(wanted))
        return 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const double here = std::fabs(rows[i].distFromBB);
        if (std::isnan(here))
            continue;
        if (here < wanted || (here == wanted && rows[i].symbol >= row.symbol))
            return i;
    }
    return rows.size();
}

// Stores `row` in place of the row at `index`, moved to its place in the order.
template <typename Rows, typename Entry>
void BollingerPlace(Rows& rows, qsizetype index, Entry row)
{
    const qsizetype target = BollingerTarget(rows, row);
    if (target > index) {
        for (qsizetype i = index; i < target - 1; ++i)
            rows[i] = std::move(rows[i + 1]);
        rows[target - 1] = std::move(row);
    } else if (target < index) {
        for (qsizetype i = index; i > target; --i)
            rows[i] = std::move(rows[i - 1]);
        rows[target] = std::move(row);
    } else {
        rows[index] = std::move(row);
    }
}

// The index of the first row whose symbol equals the given one exactly, or -1.
template <typename Rows>
qsizetype FindRowBySymbol(const Rows& rows, const QByteArray& symbol)
{
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows[i].symbol == symbol)
            return i;
    return -1;
}
