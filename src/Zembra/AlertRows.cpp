#include "Zembra/AlertRows.h"

#include "base/DebugLog.h"

#include <QDate>
#include <QDateTime>
#include <QSet>
#include <QTime>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <ctime>

namespace {

constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;
// 1 January 1970 counted from 30 December 1899.
constexpr qint64 UnixEpochDay = 25569;

double DayNumber(qint64 days, qint64 msOfDay) { return double(days) + double(msOfDay) / MsPerDay; }

} // namespace

double ToDayNumber(const QDateTime& moment)
{
    static const qint64 epochDay = QDate(1899, 12, 30).toJulianDay();
    const QDateTime utc = moment.toUTC();
    return DayNumber(utc.date().toJulianDay() - epochDay, utc.time().msecsSinceStartOfDay());
}

double DayNumberOfMs(qint64 msSinceEpoch)
{
    qint64 days = msSinceEpoch / MsPerDay;
    qint64 msOfDay = msSinceEpoch % MsPerDay;
    if (msOfDay < 0) {
        --days;
        msOfDay += MsPerDay;
    }
    return DayNumber(days + UnixEpochDay, msOfDay);
}

namespace {

// Read for every Bollinger alert: the coarse clock (a few milliseconds'
// resolution, against a lifetime of two minutes) costs a fraction of the
// precise one. Rows are stamped and expired by the same clock.
qint64 MsSinceEpochNow()
{
#ifdef CLOCK_REALTIME_COARSE
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0)
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
#endif
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

double DayNumberNow() { return DayNumberOfMs(MsSinceEpochNow()); }

bool BollingerRowAlive(double received, double now)
{
    return std::llround(received * MsPerDay) + BollingerLifetimeMs > std::llround(now * MsPerDay);
}

// ---- TAlertRows

bool TAlertRows::TakeAlert(const QByteArray& text)
{
    QByteArrayView fieldLine;
    if (!m_subscriptionMatches || !CutFieldLineOf(text, m_subscription, &fieldLine))
        return false;
    const TTake take = TakeFields(fieldLine);
    if (take == OverLimits)
        DebugOutput(QStringLiteral("Alert window \"%1\": an alert was dropped: it holds more than %2 fields or a field "
                                   "it reads is longer than %3 bytes.")
                        .arg(QString::fromUtf8(m_subscription))
                        .arg(MaxAlertFields)
                        .arg(MaxAlertValueBytes));
    else if (take == ChangedAndCut)
        DebugOutput(QStringLiteral("Alert window \"%1\": a list of more than %2 rows was cut to its first %2.")
                        .arg(QString::fromUtf8(m_subscription))
                        .arg(MaxListRows));
    return take == Changed || take == ChangedAndCut;
}

bool TAlertRows::Expire(double) { return false; }

// ---- Newest-first styles

template <typename TEntry>
TNewestFirstRows<TEntry>::TNewestFirstRows(const TListStyle& style, const QByteArray& subscription,
                                           std::initializer_list<QByteArray> names)
    : TAlertRows(style, subscription), m_fields(names), m_limit(style.RowLimit)
{
}

template <typename TEntry>
TAlertRows::TTake TNewestFirstRows<TEntry>::TakeFields(QByteArrayView fieldLine)
{
    if (!m_fields.Read(fieldLine))
        return OverLimits;
    TEntry row;
    if (!MakeRow(m_fields, m_texts, row))
        return Unchanged;
    m_rows.PushFront(std::move(row), m_limit);
    ++m_added;
    return Changed;
}

template <typename TEntry>
bool TNewestFirstRows<TEntry>::Clear()
{
    if (!ListStyle().HasClearCommand || m_rows.isEmpty())
        return false;
    m_rows.clear();
    m_added = 0;
    return true;
}

namespace {
enum TVantorField { vfSymbol, vfLast, vfPrevClose, vfExtra, vfTime };
}

// The board shows symbols only; its rows still carry the usual extra value.
TVantorRows::TVantorRows(const TListStyle& style, const TRowsSetup& setup)
    : TNewestFirstRows(style, setup.Subscription,
                       {"symbol", "last", "prev_close",
                        style.Style == asStrike ? setup.ExtraColumnKey : QByteArray(DefaultExtraColumnKey), "time"}),
      m_excludeList(setup.Excluded)
{
}

bool TVantorRows::MakeRow(const TFieldPick& fields, TRowTexts& texts, TVantorEntry& row) const
{
    row.symbol = fields.Text(vfSymbol, texts.Symbols);
    // The exclude list keeps strike windows quiet about a symbol; the board shows it.
    if (Style() == asStrike && m_excludeList && m_excludeList->Count() > 0 && m_excludeList->Contains(row.symbol))
        return false;
    row.last = fields.Number(vfLast);
    row.prevClose = fields.Number(vfPrevClose);
    row.extra = fields.Number(vfExtra);
    row.time = fields.ShortText(vfTime);
    return true;
}

namespace {
enum TSimpleField { sfSymbol, sfLast, sfChange };
}

TSimpleListRows::TSimpleListRows(const TListStyle& style, const TRowsSetup& setup)
    : TNewestFirstRows(style, setup.Subscription, {"symbol", "last", "change"})
{
}

bool TSimpleListRows::MakeRow(const TFieldPick& fields, TRowTexts& texts, TPointsTopListEntry& row) const
{
    row.symbol = fields.Text(sfSymbol, texts.Symbols);
    row.last = fields.Number(sfLast);
    row.change = fields.Number(sfChange);
    row.percentVol = 0;
    return true;
}

namespace {
enum TFerrikField { ffTime, ffSymbol, ffChange, ffCount, ffVolume, ffBb, ffRank, ffRv };
}

TFerrikRows::TFerrikRows(const TListStyle& style, const TRowsSetup& setup)
    : TNewestFirstRows(style, setup.Subscription, {"time", "symbol", "change", "count", "volume", "bb", "rank", "rv"})
{
}

bool TFerrikRows::MakeRow(const TFieldPick& fields, TRowTexts& texts, TFerrikEntry& row) const
{
    row.time = fields.ShortText(ffTime);
    row.symbol = fields.Text(ffSymbol, texts.Symbols);
    row.change = fields.Number(ffChange);
    row.count = fields.Count(ffCount);
    row.volume = fields.Count(ffVolume);
    row.bb = fields.Number(ffBb);
    row.rank = fields.NumberOrZero(ffRank);
    row.rv = fields.Number(ffRv);
    return true;
}

namespace {
enum TDravelField { dfTime, dfSymbol, dfLast, dfPrevClose, dfCount, dfVolume };
}

TDravelRows::TDravelRows(const TListStyle& style, const TRowsSetup& setup)
    : TNewestFirstRows(style, setup.Subscription, {"time", "symbol", "last", "prev_close", "count", "volume"})
{
}

bool TDravelRows::MakeRow(const TFieldPick& fields, TRowTexts& texts, TDravelEntry& row) const
{
    row.time = fields.ShortText(dfTime);
    row.symbol = fields.Text(dfSymbol, texts.Symbols);
    row.last = fields.Number(dfLast);
    row.prevClose = fields.NumberOrZero(dfPrevClose);
    row.percentChange = DravelPercentChange(row.last, row.prevClose);
    row.dollarChange = DravelDollarChange(row.last, row.prevClose);
    row.count = fields.Count(dfCount);
    row.volume = fields.Count(dfVolume);
    return true;
}

template class TNewestFirstRows<TVantorEntry>;
template class TNewestFirstRows<TPointsTopListEntry>;
template class TNewestFirstRows<TFerrikEntry>;
template class TNewestFirstRows<TDravelEntry>;

// ---- Bollinger

namespace {
enum TBollingerField { bfSymbol, bfAction, bfLast, bfPrevClose, bfDistance };
}

TBollingerRows::TBollingerRows(const TListStyle& style, const TRowsSetup& setup)
    : TAlertRows(style, setup.Subscription), m_clock(setup.Clock),
      m_fields({"symbol", "action", "last", "prev_close", "dist_from_bb"})
{
}

TAlertRows::TTake TBollingerRows::TakeFields(QByteArrayView fieldLine)
{
    if (!m_fields.Read(fieldLine))
        return OverLimits;
    QVarLengthArray<char, 16> scratch;
    const QByteArrayView action = DecodedView(m_fields.Raw(bfAction), scratch);
    m_added.reset();
    if (action == "add") {
        TBollingerEntry row;
        row.symbol = m_fields.Text(bfSymbol, m_texts);
        row.last = m_fields.Number(bfLast);
        row.prevClose = m_fields.Number(bfPrevClose);
        row.distFromBB = m_fields.Number(bfDistance);
        row.received = m_clock();
        m_added = row.symbol;
        Add(std::move(row));
    } else if (action == "delete") {
        // A symbol without a row changes nothing and repaints nothing.
        const qsizetype index = Find(m_fields.Text(bfSymbol, m_texts));
        if (index < 0)
            return Unchanged;
        Remove(index);
    }
    // Any other action hands the unchanged rows over again.
    return Changed;
}

namespace {

quint64 SymbolKey(const QByteArray& symbol)
{
    quint64 key = quint64(std::min<qsizetype>(symbol.size(), 255)) << 56;
    const qsizetype shown = std::min<qsizetype>(symbol.size(), 7);
    for (qsizetype i = 0; i < shown; ++i)
        key |= quint64(uchar(symbol[i])) << (8 * i);
    return key;
}

} // namespace

qsizetype TBollingerRows::Find(const QByteArray& symbol) const
{
    const quint64 key = SymbolKey(symbol);
    for (size_t i = 0; i < m_keys.size(); ++i)
        if (m_keys[i].Symbol == key && SameSymbol(m_rows[qsizetype(i)].symbol, symbol))
            return qsizetype(i);
    return -1;
}

TBollingerRows::TRowKey TBollingerRows::KeyOf(const TBollingerEntry& row)
{
    return {SymbolKey(row.symbol), std::fabs(row.distFromBB)};
}

qsizetype TBollingerRows::PlaceOf(double distance, const QByteArray& symbol) const
{
    // Bisection over the distances beside the rows: a larger distance, or
    // the same and a smaller symbol, sorts before.
    qsizetype low = m_undistanced;
    qsizetype high = qsizetype(m_keys.size());
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        const double here = m_keys[size_t(middle)].Distance;
        if (here > distance || (here == distance && m_rows[middle].symbol < symbol))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// The same as finding the first row that does not sort before the new one
// with the old row still in the list, and moving the new row there.
void TBollingerRows::Add(TBollingerEntry row)
{
    const qsizetype index = Find(row.symbol);
    const double distance = std::fabs(row.distFromBB);
    // Most alerts move a symbol already shown by a little.
    if (index >= 0 && !std::isnan(distance) && !std::isnan(m_rows[index].distFromBB)) {
        // The place is found before the row is handed on: the order in which
        // a call's arguments are evaluated is the compiler's choice.
        const qsizetype place = PlaceOf(distance, row.symbol);
        MoveInto(index, place, std::move(row));
        return;
    }
    if (index >= 0)
        Remove(index); // the rows around it keep their order
    const qsizetype at = std::isnan(distance) ? 0 : PlaceOf(distance, row.symbol);
    if (std::isnan(distance))
        ++m_undistanced;
    m_keys.insert(m_keys.begin() + at, KeyOf(row));
    m_rows.insert(at, std::move(row));
}

namespace {

// Moves the item at `from` to `to`, the items between shifting by one, as
// bytes: both kinds of item are relocatable (a row's texts hold no pointer
// into the row), so no text is copied or its count touched.
template <typename T>
void Relocate(T* items, qsizetype from, qsizetype to)
{
    static_assert(QTypeInfo<T>::isRelocatable);
    alignas(T) std::byte held[sizeof(T)];
    std::memcpy(held, static_cast<void*>(items + from), sizeof(T));
    if (from < to)
        std::memmove(static_cast<void*>(items + from), static_cast<const void*>(items + from + 1),
                     size_t(to - from) * sizeof(T));
    else
        std::memmove(static_cast<void*>(items + to + 1), static_cast<const void*>(items + to),
                     size_t(from - to) * sizeof(T));
    std::memcpy(static_cast<void*>(items + to), held, sizeof(T));
}

} // namespace

void TBollingerRows::MoveInto(qsizetype from, qsizetype to, TBollingerEntry row)
{
    // The old row sorts before the new one: the rows between move up.
    if (to > from)
        --to;
    Relocate(m_rows.data(), from, to); // a grid's copy keeps its rows
    Relocate(m_keys.data(), from, to);
    m_keys[size_t(to)] = KeyOf(row);
    m_rows[to] = std::move(row);
}

void TBollingerRows::Remove(qsizetype index)
{
    if (index < m_undistanced)
        --m_undistanced;
    m_keys.erase(m_keys.begin() + index);
    m_rows.removeAt(index);
}

void TBollingerRows::Reindex()
{
    m_keys.clear();
    m_undistanced = 0;
    for (const TBollingerEntry& row : std::as_const(m_rows)) {
        m_keys.push_back(KeyOf(row));
        if (std::isnan(row.distFromBB))
            ++m_undistanced;
    }
}

bool TBollingerRows::Expire(double now)
{
    TBollingerEntries kept;
    kept.reserve(m_rows.size());
    for (const TBollingerEntry& row : std::as_const(m_rows))
        if (BollingerRowAlive(row.received, now))
            kept.append(row);
    if (kept.size() == m_rows.size())
        return false;
    m_rows = kept;
    Reindex();
    return true;
}

// ---- Whole lists

namespace {
enum TPointsColumn { pcSymbol, pcLast, pcChange, pcPercentVol };
}

TPointsListRows::TPointsListRows(const TListStyle& style, const TRowsSetup& setup)
    : TAlertRows(style, setup.Subscription), m_fields({"symbol", "last", "change", "percent_vol"})
{
}

TAlertRows::TTake TPointsListRows::TakeFields(QByteArrayView fieldLine)
{
    if (!m_fields.Read(fieldLine))
        return OverLimits;
    TPointsTopListEntries rows;
    for (qsizetype n = 0; n < m_fields.Rows(); ++n) {
        TPointsTopListEntry row;
        row.last = m_fields.Number(n, pcLast);
        row.change = m_fields.Number(n, pcChange);
        const QByteArrayView symbol = m_fields.Raw(n, pcSymbol);
        // The decoded symbol is empty exactly when its raw form is.
        if (symbol.isEmpty() || std::isnan(row.last) || std::isnan(row.change))
            break;
        if (n == MaxListRows) {
            m_previousRows = std::exchange(m_rows, std::move(rows));
            return ChangedAndCut;
        }
        if (!m_fields.RowWithinLimit(n))
            return OverLimits;
        row.symbol = RawAlertText(symbol);
        row.percentVol = m_fields.Number(n, pcPercentVol);
        if (rows.isEmpty())
            rows.reserve(m_fields.Rows());
        rows.append(std::move(row));
    }
    m_previousRows = std::exchange(m_rows, std::move(rows));
    return Changed;
}

std::optional<QByteArray> TPointsListRows::NewRowSymbol() const
{
    QSet<QByteArray> before;
    for (const TPointsTopListEntry& row : m_previousRows)
        before.insert(row.symbol);
    for (const TPointsTopListEntry& row : m_rows)
        if (!before.contains(row.symbol))
            return row.symbol;
    return std::nullopt;
}

namespace {
enum TTopListColumn {
    tcSymbol, tcPriceSpike, tcVolRate, tcTodaysRange, tcOpeningRange, tcStrength, tcUpTrend, tcNearHigh,
    tcNearLow, tcNewHigh, tcNewLow, tcLast, tcChange, tcVolume, tcCount
};
}

TTopListRows::TTopListRows(const TListStyle& style, const TRowsSetup& setup)
    : TAlertRows(style, setup.Subscription),
      m_fields({"symbol", "price_spike", "vol_rate", "todays_range", "opening_range", "strength", "up_trend",
                "near_high", "near_low", "new_high", "new_low", "last", "change", "volume", "count"})
{
}

// The symbol of a row: a top list mostly repeats the symbols of the one
// before, at the same place, so the previous list's text is shared instead
// of allocated again.
QByteArray TTopListRows::SymbolAt(qsizetype row, QByteArrayView raw) const
{
    if (row < m_rows.size() && !raw.contains('%') && m_rows[row].symbol == raw)
        return m_rows[row].symbol;
    return RawAlertText(raw);
}

TAlertRows::TTake TTopListRows::TakeFields(QByteArrayView fieldLine)
{
    if (!m_fields.Read(fieldLine))
        return OverLimits;
    qsizetype count = 0;
    while (count < m_fields.Rows() && !m_fields.Raw(count, tcSymbol).isEmpty())
        ++count;
    const bool cut = count > MaxListRows;
    count = std::min(count, MaxListRows);
    for (qsizetype n = 0; n < count; ++n)
        if (!m_fields.RowWithinLimit(n))
            return OverLimits;
    TQuentTopListEntries rows(count);
    for (qsizetype n = 0; n < count; ++n) {
        TQuentTopListEntry& row = rows[n];
        row.symbol = SymbolAt(n, m_fields.Raw(n, tcSymbol));
        row.priceSpike = m_fields.Number(n, tcPriceSpike);
        row.volRate = m_fields.Number(n, tcVolRate);
        row.todaysRange = m_fields.Number(n, tcTodaysRange);
        row.openingRange = m_fields.Number(n, tcOpeningRange);
        row.strength = m_fields.Number(n, tcStrength);
        row.upTrend = m_fields.Number(n, tcUpTrend);
        row.nearHigh = m_fields.Number(n, tcNearHigh);
        row.nearLow = m_fields.Number(n, tcNearLow);
        row.newHigh = m_fields.Number(n, tcNewHigh);
        row.newLow = m_fields.Number(n, tcNewLow);
        row.last = m_fields.Number(n, tcLast);
        row.change = m_fields.Number(n, tcChange);
        row.volume = m_fields.Count(n, tcVolume);
        row.count = m_fields.Count(n, tcCount);
    }
    m_rows = std::move(rows);
    return cut ? ChangedAndCut : Changed;
}
