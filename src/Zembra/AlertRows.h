#pragma once
// The rows of one alert window, by list style, without any widget: an alert
// text goes in, and out come the rows the window's grid shows, with each
// style's list, cap, order and expiry. The window (AlertWindowUnit) owns one
// of these, reads its settings and hands the rows to its grid.
//
// Every call says whether the rows changed so that the grid must be handed
// them again. Handing over is the window's business: it may gather the
// changes of several alerts into one hand-off.
#include "Zembra/AlertEntries.h"
#include "Zembra/AlertParsing.h"
#include "Zembra/AlertStyles.h"
#include "Zembra/ExcludeList.h"

#include <QByteArray>
#include <QDateTime>
#include <functional>
#include <memory>
#include <optional>

// A moment as the Bollinger rows hold it: days since 30 December 1899 (UTC),
// the time of day as the fraction.
double ToDayNumber(const QDateTime& moment);
// The same of milliseconds since 1970 (UTC), without a calendar.
double DayNumberOfMs(qint64 msSinceEpoch);
// Whether a row received at `received` is still alive at `now` (both day
// numbers), compared to the millisecond so that exactly two minutes expire.
bool BollingerRowAlive(double received, double now);

// The local time now as a day number; tests drive the Bollinger expiry with their own.
using TDayClock = std::function<double()>;
double DayNumberNow();

// What a window's rows are made from, whatever their style.
struct TRowsSetup {
    QByteArray Subscription;
    // Names the strike list's extra column.
    QByteArray ExtraColumnKey = DefaultExtraColumnKey;
    // Stamps Bollinger rows.
    TDayClock Clock = DayNumberNow;
    // The symbols the strike list leaves out (the exclude list, which
    // outlives the rows); none when null.
    const TSymbolSet* Excluded = nullptr;
};

class TAlertRows {
public:
    virtual ~TAlertRows() = default;
    TAlertRows(const TAlertRows&) = delete;
    TAlertRows& operator=(const TAlertRows&) = delete;

    // The style's row of the table (AlertStyles) the rows were made from:
    // their clear rule and row limit.
    const TListStyle& ListStyle() const { return m_style; }
    TAlertStyle Style() const { return m_style.Style; }
    const QByteArray& Subscription() const { return m_subscription; }

    // One alert text, of any category. Only a text whose first line is the
    // subscription counts. One of more than MaxAlertFields fields, or whose
    // rows would take a value longer than MaxAlertValueBytes, is dropped,
    // and a whole list longer than MaxListRows is cut, each with one line
    // in the debug log. Returns whether the rows are to be handed over.
    bool TakeAlert(const QByteArray& text);
    // "Clear Window": true when the list was emptied (and is to be handed
    // over); only the styles with the command and a non-empty list.
    virtual bool Clear() { return false; }
    // The one-second tick at day number `now`: true when rows expired.
    virtual bool Expire(double now);

    // How many rows reached the top since the last call (newest-first styles).
    virtual int TakeAdded() { return 0; }
    // Right after TakeAlert returned true: the symbol of the row that alert
    // brought into the list, if it brought one (a whole list brings the first
    // symbol it did not hold before; the full top list brings none).
    virtual std::optional<QByteArray> NewRowSymbol() const { return std::nullopt; }

protected:
    enum TTake {
        Unchanged,
        Changed,
        ChangedAndCut, // a whole list kept its first MaxListRows rows
        OverLimits,    // too many fields, or a value too long for the rows: nothing changed
    };
    TAlertRows(const TListStyle& style, const QByteArray& subscription)
        : m_style(style), m_subscription(subscription), m_subscriptionMatches(!HoldsLineBreak(subscription))
    {
    }
    // The field line of one alert of this window.
    virtual TTake TakeFields(QByteArrayView fieldLine) = 0;

private:
    const TListStyle& m_style;
    QByteArray m_subscription;
    bool m_subscriptionMatches; // a first line never holds a line break
};

// The recent symbols of a window's rows.
struct TRowTexts {
    TTextCache Symbols{256};
};

// The styles that put one row per alert on top, each keeping at most its
// style's row limit and emptied by "Clear Window" where its style says so.
template <typename TEntry>
class TNewestFirstRows : public TAlertRows {
public:
    const TNewestFirstList<TEntry>& Rows() const { return m_rows; }
    int TakeAdded() override { return std::exchange(m_added, 0); }
    // Every alert that changes the rows puts one on top.
    std::optional<QByteArray> NewRowSymbol() const override
    {
        return m_rows.isEmpty() ? std::nullopt : std::optional(m_rows.first().symbol);
    }
    bool Clear() override;

protected:
    TNewestFirstRows(const TListStyle& style, const QByteArray& subscription, std::initializer_list<QByteArray> names);
    TTake TakeFields(QByteArrayView fieldLine) override;
    // Fills the row from the picked fields, its texts through the caches;
    // false ignores the alert.
    virtual bool MakeRow(const TFieldPick& fields, TRowTexts& texts, TEntry& row) const = 0;

private:
    TFieldPick m_fields;
    TRowTexts m_texts;
    TNewestFirstList<TEntry> m_rows;
    qsizetype m_limit;
    int m_added = 0;
};

// Strike (the exclude list applies) and symbol-only rows.
class TVantorRows : public TNewestFirstRows<TVantorEntry> {
public:
    TVantorRows(const TListStyle& style, const TRowsSetup& setup);

protected:
    bool MakeRow(const TFieldPick& fields, TRowTexts& texts, TVantorEntry& row) const override;

private:
    const TSymbolSet* m_excludeList;
};

class TSimpleListRows : public TNewestFirstRows<TPointsTopListEntry> {
public:
    TSimpleListRows(const TListStyle& style, const TRowsSetup& setup);

protected:
    bool MakeRow(const TFieldPick& fields, TRowTexts& texts, TPointsTopListEntry& row) const override;
};

class TFerrikRows : public TNewestFirstRows<TFerrikEntry> {
public:
    TFerrikRows(const TListStyle& style, const TRowsSetup& setup);

protected:
    bool MakeRow(const TFieldPick& fields, TRowTexts& texts, TFerrikEntry& row) const override;
};

class TDravelRows : public TNewestFirstRows<TDravelEntry> {
public:
    TDravelRows(const TListStyle& style, const TRowsSetup& setup);

protected:
    bool MakeRow(const TFieldPick& fields, TRowTexts& texts, TDravelEntry& row) const override;
};

// One row per symbol of a set the server adds to and deletes from, each
// dropped two minutes after its last "add". The order: by absolute distance
// from the band, largest first, equal distances by symbol in byte order; a
// row without a distance (NaN) goes to the front, and such rows stay in
// front of every row with one, so the rows with a distance keep their order
// whatever the others do.
class TBollingerRows : public TAlertRows {
public:
    TBollingerRows(const TListStyle& style, const TRowsSetup& setup);
    // One row per symbol, exact comparison.
    const TBollingerEntries& Rows() const { return m_rows; }
    bool Expire(double now) override;
    // The symbol of an "add"; a "delete" or another action brings none.
    std::optional<QByteArray> NewRowSymbol() const override { return m_added; }

protected:
    TTake TakeFields(QByteArrayView fieldLine) override;

private:
    // The row of a symbol, or -1.
    qsizetype Find(const QByteArray& symbol) const;
    // Where a row with this distance and symbol belongs among the rows with
    // a distance (the first that does not sort before it).
    qsizetype PlaceOf(double distance, const QByteArray& symbol) const;
    // Replaces the row of its symbol, or adds it, and moves it into place.
    void Add(TBollingerEntry row);
    // The row at `from` gives way to `row`, which belongs at `to` (found
    // with the old row still in the list); only the rows between move.
    void MoveInto(qsizetype from, qsizetype to, TBollingerEntry row);
    void Remove(qsizetype index);
    void Reindex();

    TDayClock m_clock;
    std::optional<QByteArray> m_added;
    TFieldPick m_fields;
    TTextCache m_texts{256};
    TBollingerEntries m_rows;
    // The rows without a distance, all in front; the rest are sorted, so a
    // new row's place is found by bisection.
    qsizetype m_undistanced = 0;
    // Beside each row, its symbol's length and first seven bytes in one
    // number (a row is found by comparing numbers, and texts only on a
    // match) and its absolute distance (a place is found without touching
    // the rows).
    struct TRowKey {
        quint64 Symbol = 0;
        double Distance = 0;
    };
    static TRowKey KeyOf(const TBollingerEntry& row);
    std::vector<TRowKey> m_keys;
};

// The points list: every alert is a whole list, numbered from 0, that ends
// at the first row without a symbol, a last price or a change.
class TPointsListRows : public TAlertRows {
public:
    TPointsListRows(const TListStyle& style, const TRowsSetup& setup);
    const TPointsTopListEntries& Rows() const { return m_rows; }
    std::optional<QByteArray> NewRowSymbol() const override;

protected:
    TTake TakeFields(QByteArrayView fieldLine) override;

private:
    TNumberedPick m_fields;
    TPointsTopListEntries m_rows;
    TPointsTopListEntries m_previousRows; // the list before the last alert's
};

// The full top list: every alert is a whole list, numbered from 0, that ends
// at the first row without a symbol. When and how it reaches the screen is
// the top-list order's business (TopListOrder).
class TTopListRows : public TAlertRows {
public:
    TTopListRows(const TListStyle& style, const TRowsSetup& setup);
    const TQuentTopListEntries& Rows() const { return m_rows; }

protected:
    TTake TakeFields(QByteArrayView fieldLine) override;

private:
    QByteArray SymbolAt(qsizetype row, QByteArrayView raw) const;

    TNumberedPick m_fields;
    TQuentTopListEntries m_rows;
};
