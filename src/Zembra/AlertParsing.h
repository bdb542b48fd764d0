#pragma once
// The widget-free rules of an alert window: the reading of an alert text
// into decoded fields, and the conversions of field values. AlertRows puts
// them together by style (AlertStyles) and keeps each style's rows in its
// order.
//
// An alert is read in one pass over its field line, without a table of its
// fields and without an allocation per field: a style picks the few names it
// needs (TFieldPick), a whole-list style files each numbered name by row and
// column (TNumberedPick), and values stay views into the text until a row
// takes them.
#include <QByteArray>
#include <QByteArrayView>
#include <QVarLengthArray>
#include <QtGlobal>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include "Shared/ShortText.h"
#include "Shared/WireMessages.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// How long a Bollinger row stays after its last "add", in milliseconds.
inline constexpr qint64 BollingerLifetimeMs = 2 * 60 * 1000;

// An alert may be as long as the conversation's frame cap (64 MiB) allows,
// and one pass over its field line reads it. Three bounds remain, each to
// keep the worst frame well under 100 ms of the GUI thread or a cell
// readable; none touches an alert a server really sends:
// - an alert of more than MaxAlertFields fields (pieces with "=") is
//   dropped: 64 MiB of "&=" are 32 million fields, a third of a second;
// - so is one whose rows would take a value (a symbol, a time, a number)
//   longer than MaxAlertValueBytes as sent: a megabyte of text in a cell
//   would be measured again at every repaint. Fields the style does not
//   read are skipped whatever their length;
// - a whole list keeps its first MaxListRows rows: past that its rows and
//   their hand-off to the grid grow with the frame (a top list of 60 rows
//   is usual, one of MaxListRows holds 150,000 fields).
inline constexpr qsizetype MaxAlertFields = 1000000;
inline constexpr qsizetype MaxAlertValueBytes = 1024;
inline constexpr qsizetype MaxListRows = 10000;

// When the first line of the alert text (up to the first CR LF, or the whole
// text) equals the subscription exactly, points `fieldLine` at the field line
// (up to the next CR LF) inside `data` and returns true; otherwise returns
// false.
bool CutFieldLine(const QByteArray& data, const QByteArray& subscription, QByteArrayView* fieldLine);
// The same for a subscription known to hold no CR LF.
bool CutFieldLineOf(const QByteArray& data, const QByteArray& subscription, QByteArrayView* fieldLine);
bool HoldsLineBreak(QByteArrayView text);

// A percent-decoded text: the text itself when it holds no "%", else its
// decoded form in `scratch`. Valid as long as both are.
template <qsizetype N>
QByteArrayView DecodedView(QByteArrayView text, QVarLengthArray<char, N>& scratch)
{
    if (!text.contains('%'))
        return text;
    scratch.resize(text.size());
    return QByteArrayView(scratch.data(), UrlDecodeInto(text, scratch.data()));
}

// Names and texts of alerts are short: equal bytes are looked for inline
// rather than through a call to memcmp.
inline bool SameBytes(const char* a, const char* b, qsizetype size)
{
    if (size > 16)
        return std::memcmp(a, b, size_t(size)) == 0;
    for (qsizetype i = 0; i < size; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// The first byte a in [at, limit), or limit; values are short, so this
// beats a call to memchr.
inline const char* FindByte(const char* at, const char* limit, char a)
{
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(a);
    while (limit - at >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, want))))
            return at + std::countr_zero(mask);
        at += 16;
    }
#endif
    while (at != limit && *at != a)
        ++at;
    return at;
}

// Splits the field line at "&" and each piece at its first "="; pieces
// without "=" are skipped. Calls visit(name, rawValue) for each field in
// order: the name percent-decoded, the value as it stands in the line. The
// name's view lasts for the call only; the value's as long as the line.
// Returns false, and stops, at field MaxAlertFields + 1; the fields visited
// until then are no alert.
// Every alert goes through here once, and a hostile one may be 64 MiB of
// pieces: each byte is looked at a bounded number of times, and a run of
// pieces without "=" is passed over by the search for the next "=".
template <typename Visit>
bool ForEachRawAlertField(QByteArrayView line, Visit&& visit)
{
    QVarLengthArray<char, 64> decoded;
    const char* at = line.data();
    const char* const end = at + line.size();
    for (qsizetype fields = 0; at != end; ++fields) {
        const char* const equals = FindByte(at, end, '=');
        if (equals == end)
            return true;
        if (fields == MaxAlertFields)
            return false;
        const char* start = equals;
        while (start != at && start[-1] != '&')
            --start;
        const QByteArrayView name(start, equals - start);
        const char* const valueEnd = FindByte(equals + 1, end, '&');
        visit(DecodedView(name, decoded), QByteArrayView(equals + 1, valueEnd - equals - 1));
        if (valueEnd == end)
            return true;
        at = valueEnd + 1; // past "&"
    }
    return true;
}

// The same with both sides decoded (views that last for the call only).
template <typename Visit>
bool ForEachAlertField(QByteArrayView line, Visit&& visit)
{
    QVarLengthArray<char, 64> value;
    return ForEachRawAlertField(line, [&](QByteArrayView name, QByteArrayView raw) { visit(name, DecodedView(raw, value)); });
}

// A number field: a decimal with "." as the point; empty, unreadable or not
// finite gives NaN.
double ReadAlertNumber(QByteArrayView text);
// A number field whose missing or bad value reads as 0.
double ReadAlertNumberOrZero(QByteArrayView text);
// A count field: a decimal 32-bit integer; empty, unreadable or out of range gives 0.
qint32 ReadAlertCount(QByteArrayView text);

// The same of a value as it stands in the line, still percent-encoded.
QByteArray RawAlertText(QByteArrayView raw);
double RawAlertNumber(QByteArrayView raw);
qint32 RawAlertCount(QByteArrayView raw);

// Recent texts of one field: a symbol seen a moment ago is shared instead of
// allocated again. A text not seen lately costs what it would without the
// cache, one allocation, and takes its slot.
class TTextCache {
public:
    // The number of slots is rounded up to a power of two.
    explicit TTextCache(int slotCount);
    QByteArray Text(QByteArrayView raw);

private:
    static constexpr qsizetype LongestKept = 32;
    // A value as it stood in the line (compared before anything is
    // decoded), and its text.
    struct TSlot {
        char Raw[LongestKept];
        qsizetype RawSize = -1;
        QByteArray Text;
    };
    std::vector<TSlot> m_slots;
    size_t m_mask = 0;
};

// The last value of each of a few field names in a field line; a missing
// field reads as empty. Read once per alert and reused: no allocation.
class TFieldPick {
public:
    // Names may repeat (the strike list's extra column may name "last").
    explicit TFieldPick(std::initializer_list<QByteArray> names);
    // False for a line of more than MaxAlertFields fields, or when a picked
    // value is longer than MaxAlertValueBytes.
    bool Read(QByteArrayView fieldLine);
    QByteArrayView Raw(int index) const { return m_values[index]; }
    QByteArray Text(int index) const { return RawAlertText(m_values[index]); }
    QByteArray Text(int index, TTextCache& cache) const { return cache.Text(m_values[index]); }
    TShortText ShortText(int index) const;
    double Number(int index) const { return RawAlertNumber(m_values[index]); }
    double NumberOrZero(int index) const;
    qint32 Count(int index) const { return RawAlertCount(m_values[index]); }

private:
    // Every field of every alert is looked up here: a small open-addressed
    // table by length and end bytes finds the one name to compare.
    struct TWanted {
        QByteArray Name;
        quint32 Indices = 0; // the values this name fills
    };
    static constexpr size_t SlotCount = 64;
    static size_t SlotOf(QByteArrayView name)
    {
        if (name.isEmpty())
            return 0;
        return (size_t(name.size()) * 37 + uchar(name.front()) * 5 + uchar(name.back())) & (SlotCount - 1);
    }
    void Fill(QByteArrayView name, QByteArrayView raw);

    std::vector<TWanted> m_wanted;
    std::array<qint8, SlotCount> m_slots; // into m_wanted; -1 ends a probe
    QVarLengthArray<QByteArrayView, 8> m_values;
};

// The fields of a whole-list alert: a column name followed by the row number
// in decimal, counted from 0 ("symbol0", "last12"; "last012" names no row).
// One pass files every such field by row and column; the last one wins.
class TNumberedPick {
public:
    // No column name may end in a digit: the row number starts after the name.
    explicit TNumberedPick(std::initializer_list<const char*> columns);
    // False for a line of more than MaxAlertFields fields.
    bool Read(QByteArrayView fieldLine);
    // Rows 0 .. Rows() - 1 may hold fields. A list is read from row 0 until
    // a row lacks what the style needs, so a row number of an alert's field
    // count or more can never be reached; neither can one past the first
    // MaxListRows + 1 rows, which tell a list that is to be cut. Those are
    // not filed.
    qsizetype Rows() const { return m_rows; }
    // Whether every value of the row holds at most MaxAlertValueBytes.
    bool RowWithinLimit(qsizetype row) const;
    QByteArrayView Raw(qsizetype row, int column) const;
    double Number(qsizetype row, int column) const { return RawAlertNumber(Raw(row, column)); }
    qint32 Count(qsizetype row, int column) const { return RawAlertCount(Raw(row, column)); }

private:
    int ColumnOf(QByteArrayView name) const;

    std::vector<QByteArray> m_columns;
    std::vector<QByteArrayView> m_table; // row by row, one value per column
    qsizetype m_rows = 0;
};

// The row number of a numbered name's tail ("0", "12"), or -1 when the tail
// is not a decimal number without leading zeros below `limit`.
qsizetype ReadRowNumber(QByteArrayView digits, qsizetype limit);

// The Dravel list's derived changes.
double DravelPercentChange(double last, double prevClose);
double DravelDollarChange(double last, double prevClose);

// The same text, exactly; symbols of one length mostly differ in their first
// letter, which is looked at before the rest.
inline bool SameSymbol(const QByteArray& a, const QByteArray& b)
{
    const qsizetype size = a.size();
    return size == b.size() &&
           (size == 0 || (a.constData()[0] == b.constData()[0] && SameBytes(a.constData(), b.constData(), size)));
}

// The index of the first row whose symbol equals the given one exactly, or -1.
template <typename Rows>
qsizetype FindRowBySymbol(const Rows& rows, const QByteArray& symbol)
{
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (SameSymbol(rows[i].symbol, symbol))
            return i;
    return -1;
}
