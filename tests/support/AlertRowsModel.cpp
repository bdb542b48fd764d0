// The model of the alert windows' rows (AlertRowsModel.h): its own reading
// of every alert text, and the checks of the rows against it.
#include "AlertRowsModel.h"
#include "PercentDecoding.h"
#include "Zembra/AlertRows.h"
#include "Zembra/ExcludeList.h"
#include "Zembra/TopListOrder.h"
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

// Under the fuzzer, the model's own code is left out of the coverage it
// steers by: its branches say nothing about the code under test, and
// tracing them costs a third of every run.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#endif

namespace AlertRowsModel {

[[noreturn]] void Broken(const char* rule, const char* file, int line)
{
    throw TBrokenRule(QStringLiteral("%1 (%2:%3)").arg(QLatin1String(rule), QLatin1String(file)).arg(line).toStdString());
}

} // namespace AlertRowsModel

#define MODEL_CHECK(rule) ((rule) ? void(0) : ::AlertRowsModel::Broken(#rule, __FILE__, __LINE__))

namespace {

using TFields = QHash<QByteArray, QByteArray>;

// --- The harness's own reading of an alert text ----------------------------

using PercentDecoding::PercentDecoded;

// The first line and the field line of a text. Lines end with CR LF; a
// lone CR or LF is part of the line.
struct TTextLines {
    QByteArray First;
    QByteArray Fields;
};

TTextLines LinesOf(const QByteArray& text)
{
    const qsizetype first = text.indexOf("\r\n");
    if (first < 0)
        return {text, {}};
    const qsizetype second = text.indexOf("\r\n", first + 2);
    return {text.left(first), text.mid(first + 2, second < 0 ? -1 : second - first - 2)};
}

// The field line when the text belongs to the category.
std::optional<QByteArray> FieldLineFor(const QByteArray& text, const QByteArray& category)
{
    const TTextLines lines = LinesOf(text);
    if (lines.First != category)
        return std::nullopt;
    return lines.Fields;
}

// The fields in order, names decoded, values decoded or as sent.
enum TValues { DecodedValues, RawValues };
std::vector<std::pair<QByteArray, QByteArray>> FieldList(const QByteArray& line, TValues values = DecodedValues)
{
    std::vector<std::pair<QByteArray, QByteArray>> fields;
    for (const QByteArray& piece : line.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        if (equals >= 0)
            fields.emplace_back(PercentDecoded(piece.left(equals)),
                                values == DecodedValues ? PercentDecoded(piece.mid(equals + 1)) : piece.mid(equals + 1));
    }
    return fields;
}

// Later fields replace earlier ones of the same name.
TFields FieldMap(const QByteArray& line, TValues values = DecodedValues)
{
    TFields map;
    for (const auto& [name, value] : FieldList(line, values))
        map.insert(name, value);
    return map;
}

bool SameNumber(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Numbers read as Qt reads them: the windows' quicker reading must agree.
double Number(const TFields& fields, const QByteArray& key)
{
    bool ok = false;
    const double value = fields.value(key).toDouble(&ok);
    return ok && std::isfinite(value) ? value : std::nan("");
}

qint32 Count(const TFields& fields, const QByteArray& key)
{
    bool ok = false;
    const int value = fields.value(key).toInt(&ok);
    return ok ? value : 0;
}

// --- The windows ----------------------------------------------------------

// The windows by style, in the order of g_windows.
enum TWindowIndex { Strike, Bollinger, Symbol, Points, Simple, Ferrik, Quent, Dravel, WindowCount };

struct Window {
    const char* category;
    TAlertStyle style;
    std::unique_ptr<TAlertRows> rows;
};

Window g_windows[] = {
    {"strike", asStrike, nullptr},      {"bollinger", asBollinger, nullptr}, {"symbol", asSymbolOnly, nullptr},
    {"pointslist", asPointsList, nullptr}, {"simplelist", asSimpleList, nullptr}, {"ferrik", asFerrik, nullptr},
    {"quent", asQuentFull, nullptr},    {"dravel", asDravel, nullptr},
};

// The full top list's order, as the top-list window's grid keeps it, its
// clock, and when the harness expects the last re-sort to have been.
TTopListOrder g_order;
qint64 g_orderClock = 0;
std::optional<qint64> g_lastSort;

// How often 'r' repeats a text: four in a row pass the bound of 1000 rows.
constexpr int RepeatCount = 250;

// The windows' clock: fixed, moved only by the 't' command.
QDateTime g_now;
const QDateTime StartOfInput(QDate(2026, 12, 7), QTime(14, 30), Qt::UTC);
// When each Bollinger symbol was last added, by the same clock.
QHash<QByteArray, QDateTime> g_bollingerAdded;
// The last alert text, which 'r' repeats and 'x' excludes the symbol of.
QByteArray g_lastText;
// The strike window's exclude list, which 'x' replaces.
TSymbolSet g_excludeList = NewExcludeList();

template <typename TRows>
const TRows& R(int index)
{
    return dynamic_cast<const TRows&>(*g_windows[index].rows);
}

void NewRows(Window& window)
{
    window.rows =
        MakeAlertRows(window.style, {window.category, DefaultExtraColumnKey, [] { return ToDayNumber(g_now); }, &g_excludeList});
    MODEL_CHECK(window.rows->Style() == window.style && window.rows->Subscription() == window.category);
}

bool SameVantor(const TVantorEntry& a, const TVantorEntry& b)
{
    return a.symbol == b.symbol && a.time == b.time && SameNumber(a.last, b.last) &&
           SameNumber(a.prevClose, b.prevClose) && SameNumber(a.extra, b.extra);
}
bool SamePoints(const TPointsTopListEntry& a, const TPointsTopListEntry& b)
{
    return a.symbol == b.symbol && SameNumber(a.last, b.last) && SameNumber(a.change, b.change) &&
           SameNumber(a.percentVol, b.percentVol);
}
bool SameFerrik(const TFerrikEntry& a, const TFerrikEntry& b)
{
    return a.symbol == b.symbol && a.time == b.time && SameNumber(a.change, b.change) && a.count == b.count &&
           a.volume == b.volume && SameNumber(a.bb, b.bb) && SameNumber(a.rank, b.rank) && SameNumber(a.rv, b.rv);
}
bool SameDravel(const TDravelEntry& a, const TDravelEntry& b)
{
    return a.symbol == b.symbol && a.time == b.time && SameNumber(a.last, b.last) &&
           SameNumber(a.prevClose, b.prevClose) && SameNumber(a.percentChange, b.percentChange) &&
           SameNumber(a.dollarChange, b.dollarChange) && a.count == b.count && a.volume == b.volume;
}
bool SameBollinger(const TBollingerEntry& a, const TBollingerEntry& b)
{
    return a.symbol == b.symbol && SameNumber(a.last, b.last) && SameNumber(a.prevClose, b.prevClose) &&
           SameNumber(a.distFromBB, b.distFromBB) && a.received == b.received;
}
bool SameTop(const TQuentTopListEntry& a, const TQuentTopListEntry& b)
{
    return a.symbol == b.symbol && SameNumber(a.priceSpike, b.priceSpike) && SameNumber(a.volRate, b.volRate) &&
           SameNumber(a.todaysRange, b.todaysRange) && SameNumber(a.openingRange, b.openingRange) &&
           SameNumber(a.strength, b.strength) && SameNumber(a.upTrend, b.upTrend) &&
           SameNumber(a.nearHigh, b.nearHigh) && SameNumber(a.nearLow, b.nearLow) &&
           SameNumber(a.newHigh, b.newHigh) && SameNumber(a.newLow, b.newLow) && SameNumber(a.last, b.last) &&
           SameNumber(a.change, b.change) && a.volume == b.volume && a.count == b.count;
}

template <typename Rows, typename Same>
void CheckSameRows(const Rows& a, const Rows& b, Same same)
{
    MODEL_CHECK(a.size() == b.size());
    for (qsizetype i = 0; i < a.size(); ++i)
        MODEL_CHECK(same(a[i], b[i]));
}

// The rows a check looks at: the newest ones and the two oldest, so that a
// check costs the same however long a list has grown.
constexpr qsizetype ViewedRows = 32;

template <typename T>
struct TView {
    qsizetype size = 0;
    qsizetype tailStart = 0;
    QVector<T> head;
    QVector<T> tail;

    const T* At(qsizetype i) const
    {
        if (i < head.size())
            return &head[i];
        if (i >= tailStart && i < size)
            return &tail[i - tailStart];
        return nullptr;
    }
};

template <typename List>
auto Viewed(const List& list)
{
    TView<std::decay_t<decltype(list[0])>> view;
    view.size = list.size();
    const qsizetype headSize = std::min(view.size, ViewedRows);
    for (qsizetype i = 0; i < headSize; ++i)
        view.head.append(list[i]);
    view.tailStart = std::max(headSize, view.size - 2);
    for (qsizetype i = view.tailStart; i < view.size; ++i)
        view.tail.append(list[i]);
    return view;
}

template <typename T, typename Same>
void CheckSameRows(const TView<T>& a, const TView<T>& b, Same same)
{
    MODEL_CHECK(a.size == b.size);
    for (qsizetype i = 0; i < a.size; ++i)
        if (const T* row = a.At(i))
            MODEL_CHECK(same(*row, *b.At(i)));
}

// Row counts of every window, to see that an alert touched only its own.
std::array<qsizetype, WindowCount> RowCounts()
{
    return {R<TVantorRows>(Strike).Rows().size(),       R<TBollingerRows>(Bollinger).Rows().size(),
            R<TVantorRows>(Symbol).Rows().size(),       R<TPointsListRows>(Points).Rows().size(),
            R<TSimpleListRows>(Simple).Rows().size(),   R<TFerrikRows>(Ferrik).Rows().size(),
            R<TTopListRows>(Quent).Rows().size(),       R<TDravelRows>(Dravel).Rows().size()};
}

// The window whose category is the first line, or -1.
int WindowOf(const TTextLines& lines)
{
    for (int i = 0; i < WindowCount; ++i)
        if (lines.First == g_windows[i].category)
            return i;
    return -1;
}

// What one window held before a step, and the copy a grid was handed then.
struct Snapshot {
    TView<TVantorEntry> vantor;
    TVantorEntries vantorCopy;
    TView<TPointsTopListEntry> simple;
    TSimpleListEntries simpleCopy;
    TView<TFerrikEntry> ferrik;
    TFerrikEntries ferrikCopy;
    TView<TDravelEntry> dravel;
    TDravelEntries dravelCopy;
    TBollingerEntries bollinger;
    TPointsTopListEntries points;
    TQuentTopListEntries top;
};

Snapshot Take(int window)
{
    Snapshot s;
    switch (window) {
    case Strike:
    case Symbol:
        s.vantorCopy = R<TVantorRows>(window).Rows();
        s.vantor = Viewed(s.vantorCopy);
        break;
    case Simple:
        s.simpleCopy = R<TSimpleListRows>(Simple).Rows();
        s.simple = Viewed(s.simpleCopy);
        break;
    case Ferrik:
        s.ferrikCopy = R<TFerrikRows>(Ferrik).Rows();
        s.ferrik = Viewed(s.ferrikCopy);
        break;
    case Dravel:
        s.dravelCopy = R<TDravelRows>(Dravel).Rows();
        s.dravel = Viewed(s.dravelCopy);
        break;
    case Bollinger:
        s.bollinger = R<TBollingerRows>(Bollinger).Rows();
        break;
    case Points:
        s.points = R<TPointsListRows>(Points).Rows();
        break;
    case Quent:
        s.top = R<TTopListRows>(Quent).Rows();
        break;
    default:
        break;
    }
    return s;
}

// The copies handed out before the step kept their rows.
void CheckCopiesKept(const Snapshot& before)
{
    CheckSameRows(Viewed(before.vantorCopy), before.vantor, SameVantor);
    CheckSameRows(Viewed(before.simpleCopy), before.simple, SamePoints);
    CheckSameRows(Viewed(before.ferrikCopy), before.ferrik, SameFerrik);
    CheckSameRows(Viewed(before.dravelCopy), before.dravel, SameDravel);
}

// A dropped alert leaves the window's rows as they were: the old list stays.
void CheckUnchanged(const Snapshot& before, int window)
{
    const Snapshot now = Take(window);
    CheckSameRows(now.vantor, before.vantor, SameVantor);
    CheckSameRows(now.simple, before.simple, SamePoints);
    CheckSameRows(now.ferrik, before.ferrik, SameFerrik);
    CheckSameRows(now.dravel, before.dravel, SameDravel);
    CheckSameRows(now.bollinger, before.bollinger, SameBollinger);
    CheckSameRows(now.points, before.points, SamePoints);
    CheckSameRows(now.top, before.top, SameTop);
}

// A newest-first list after one alert: the new row on top, the others one
// place down, the oldest dropped beyond the bound.
template <typename Row, typename Same>
void CheckPushed(const TView<Row>& before, const TView<Row>& after, const Row& expected, qsizetype bound, Same same)
{
    const qsizetype size = bound > 0 ? std::min(before.size + 1, bound) : before.size + 1;
    MODEL_CHECK(after.size == size);
    MODEL_CHECK(same(*after.At(0), expected));
    for (qsizetype i = 1; i < size; ++i) {
        const Row* now = after.At(i);
        const Row* was = before.At(i - 1);
        if (now && was)
            MODEL_CHECK(same(*now, *was));
    }
}

TVantorEntry ExpectedVantor(const TFields& f)
{
    TVantorEntry row;
    row.symbol = f.value("symbol");
    row.last = Number(f, "last");
    row.prevClose = Number(f, "prev_close");
    row.extra = Number(f, "sma_divergence");
    row.time = f.value("time");
    return row;
}

// Whether the strike list takes the alert; returns what the rows said.
bool CheckStrike(const Snapshot& before, const TFields& f, bool handOver)
{
    const auto after = Viewed(R<TVantorRows>(Strike).Rows());
    if (g_excludeList.Contains(f.value("symbol"))) {
        CheckSameRows(after, before.vantor, SameVantor);
        return !handOver;
    }
    CheckPushed(before.vantor, after, ExpectedVantor(f), MaxNewestFirstRows, SameVantor);
    return handOver;
}

void CheckSimple(const Snapshot& before, const TFields& f)
{
    TPointsTopListEntry row;
    row.symbol = f.value("symbol");
    row.last = Number(f, "last");
    row.change = Number(f, "change");
    row.percentVol = 0;
    CheckPushed(before.simple, Viewed(R<TSimpleListRows>(Simple).Rows()), row, MaxNewestFirstRows, SamePoints);
}

void CheckFerrik(const Snapshot& before, const TFields& f)
{
    TFerrikEntry row;
    row.time = f.value("time");
    row.symbol = f.value("symbol");
    row.change = Number(f, "change");
    row.count = Count(f, "count");
    row.volume = Count(f, "volume");
    row.bb = Number(f, "bb");
    const double rank = Number(f, "rank");
    row.rank = std::isnan(rank) ? 0 : rank;
    row.rv = Number(f, "rv");
    CheckPushed(before.ferrik, Viewed(R<TFerrikRows>(Ferrik).Rows()), row, 0, SameFerrik);
}

void CheckDravel(const Snapshot& before, const TFields& f)
{
    TDravelEntry row;
    row.time = f.value("time");
    row.symbol = f.value("symbol");
    row.last = Number(f, "last");
    const double prevClose = Number(f, "prev_close");
    row.prevClose = std::isnan(prevClose) ? 0 : prevClose;
    row.percentChange = row.last > 0 && row.prevClose > 0 ? (row.last - row.prevClose) / row.prevClose * 100 : 0;
    row.dollarChange = row.last - row.prevClose;
    row.count = Count(f, "count");
    row.volume = Count(f, "volume");
    CheckPushed(before.dravel, Viewed(R<TDravelRows>(Dravel).Rows()), row, 0, SameDravel);
}

// A points list ends at the first row without a symbol, a last price or a change.
qsizetype PointsListLength(const TFields& f)
{
    qsizetype n = 0;
    for (;; ++n) {
        const QByteArray suffix = QByteArray::number(n);
        if (f.value("symbol" + suffix).isEmpty() || std::isnan(Number(f, "last" + suffix)) ||
            std::isnan(Number(f, "change" + suffix)))
            return n;
    }
}

// A top list ends at the first row without a symbol.
qsizetype TopListLength(const TFields& f)
{
    qsizetype n = 0;
    while (!f.value("symbol" + QByteArray::number(n)).isEmpty())
        ++n;
    return n;
}

const QByteArrayList PointsColumns{"symbol", "last", "change", "percent_vol"};
const QByteArrayList TopListColumns{"symbol",   "price_spike", "vol_rate", "todays_range", "opening_range",
                                    "strength", "up_trend",    "near_high", "near_low",    "new_high",
                                    "new_low",  "last",        "change",    "volume",      "count"};

// The names each window that picks its fields reads.
QByteArrayList PickedNames(int window)
{
    switch (window) {
    case Strike:
    case Symbol:
        return {"symbol", "last", "prev_close", "sma_divergence", "time"};
    case Bollinger:
        return {"symbol", "action", "last", "prev_close", "dist_from_bb"};
    case Simple:
        return {"symbol", "last", "change"};
    case Ferrik:
        return {"time", "symbol", "change", "count", "volume", "bb", "rank", "rv"};
    case Dravel:
        return {"time", "symbol", "last", "prev_close", "count", "volume"};
    default:
        return {};
    }
}

// Whether the alert holds more than MaxAlertFields fields, or the rows would
// take a value longer than MaxAlertValueBytes as sent: a field the window
// reads, or a field of a row of its (cut) list. Fields it does not read may
// be of any length.
bool OverLimits(int window, const QByteArray& line, const TFields& fields)
{
    // Each field takes an "=" and all but the last an "&".
    if (line.size() > 2 * MaxAlertFields && qsizetype(FieldList(line).size()) > MaxAlertFields)
        return true;
    const QByteArrayList pieces = line.split('&');
    if (std::none_of(pieces.begin(), pieces.end(), [](const QByteArray& piece) { return piece.size() > MaxAlertValueBytes; }))
        return false;
    const TFields raw = FieldMap(line, RawValues);
    const auto tooLong = [&raw](const QByteArray& name) { return raw.value(name).size() > MaxAlertValueBytes; };
    if (window == Points || window == Quent) {
        const qsizetype rows = window == Points ? PointsListLength(fields) : TopListLength(fields);
        for (qsizetype n = 0; n < std::min(rows, MaxListRows); ++n)
            for (const QByteArray& column : window == Points ? PointsColumns : TopListColumns)
                if (tooLong(column + QByteArray::number(n)))
                    return true;
        return false;
    }
    const QByteArrayList names = PickedNames(window);
    return std::any_of(names.begin(), names.end(), tooLong);
}

// A whole list keeps its first MaxListRows rows.
void CheckPoints(const TFields& f)
{
    const TPointsTopListEntries& rows = R<TPointsListRows>(Points).Rows();
    const qsizetype length = std::min(PointsListLength(f), MaxListRows);
    MODEL_CHECK(rows.size() == length);
    for (qsizetype n = 0; n < length; ++n) {
        const QByteArray suffix = QByteArray::number(n);
        const QByteArray symbol = f.value("symbol" + suffix);
        const double last = Number(f, "last" + suffix);
        const double change = Number(f, "change" + suffix);
        MODEL_CHECK(rows[n].symbol == symbol && rows[n].last == last && rows[n].change == change &&
                   SameNumber(rows[n].percentVol, Number(f, "percent_vol" + suffix)));
    }
}

TQuentTopListEntries ExpectedTopList(const TFields& f)
{
    TQuentTopListEntries rows;
    const qsizetype length = std::min(TopListLength(f), MaxListRows);
    for (qsizetype n = 0; n < length; ++n) {
        const QByteArray suffix = QByteArray::number(n);
        TQuentTopListEntry row;
        row.symbol = f.value("symbol" + suffix);
        row.priceSpike = Number(f, "price_spike" + suffix);
        row.volRate = Number(f, "vol_rate" + suffix);
        row.todaysRange = Number(f, "todays_range" + suffix);
        row.openingRange = Number(f, "opening_range" + suffix);
        row.strength = Number(f, "strength" + suffix);
        row.upTrend = Number(f, "up_trend" + suffix);
        row.nearHigh = Number(f, "near_high" + suffix);
        row.nearLow = Number(f, "near_low" + suffix);
        row.newHigh = Number(f, "new_high" + suffix);
        row.newLow = Number(f, "new_low" + suffix);
        row.last = Number(f, "last" + suffix);
        row.change = Number(f, "change" + suffix);
        row.volume = Count(f, "volume" + suffix);
        row.count = Count(f, "count" + suffix);
        rows.append(row);
    }
    return rows;
}

// What the top list shows after a new list: the list itself when its order
// reached the screen; otherwise the rows shown before, each replaced by the
// last row of the new list with its symbol in any letter case, and the rest
// of the new list counted as missing, the first five by name.
void CheckOrder(const TQuentTopListEntries& shownBefore, const TQuentTopListEntries& list, TTopListOrder::TChange change)
{
    if (change == TTopListOrder::Reorder) {
        CheckSameRows(g_order.Displayed(), list, SameTop);
        MODEL_CHECK(!g_order.HavePending() && g_order.MissingCount() == 0 && g_order.MissingText().isEmpty());
        return;
    }
    MODEL_CHECK(change == TTopListOrder::Repaint && g_order.HavePending());
    MODEL_CHECK(g_order.Displayed().size() == shownBefore.size());
    QHash<QByteArray, qsizetype> firstRow;
    for (qsizetype i = shownBefore.size() - 1; i >= 0; --i)
        firstRow.insert(shownBefore[i].symbol.toLower(), i);
    QHash<qsizetype, const TQuentTopListEntry*> latest;
    QStringList missing;
    for (const TQuentTopListEntry& entry : list) {
        const auto found = firstRow.constFind(entry.symbol.toLower());
        if (found == firstRow.cend())
            missing << QString::fromUtf8(entry.symbol);
        else
            latest.insert(*found, &entry);
    }
    for (qsizetype i = 0; i < shownBefore.size(); ++i) {
        const TQuentTopListEntry* entry = latest.value(i);
        MODEL_CHECK(SameTop(g_order.Displayed()[i], entry ? *entry : shownBefore[i]));
    }
    MODEL_CHECK(g_order.MissingCount() == missing.size());
    QString text = missing.mid(0, 5).join(QStringLiteral(", "));
    if (missing.size() > 5)
        text += QStringLiteral(" and %1 more").arg(missing.size() - 5);
    MODEL_CHECK(g_order.MissingText() == text);
}

// A pending order is due when not frozen and the last re-sort is more than
// 30 s ago, or there never was one.
bool SortDue()
{
    return g_order.HavePending() && !g_order.Frozen() && (!g_lastSort || g_orderClock > *g_lastSort + 30000);
}

// What the order does with a pending list, by the harness's clock.
void CheckSortStep(TTopListOrder::TChange change, bool due, const TQuentTopListEntries& pending)
{
    MODEL_CHECK(change == (due ? TTopListOrder::Reorder : TTopListOrder::Unchanged));
    if (!due)
        return;
    g_lastSort = g_orderClock;
    CheckSameRows(g_order.Displayed(), pending, SameTop);
    MODEL_CHECK(!g_order.HavePending() && g_order.MissingCount() == 0);
}

// A list in the same order as the screen shows at once and leaves the
// re-sort clock alone; another order shows when due, else updates in place.
// The rows shown are checked in detail unless `brief`.
void FeedOrder(const TQuentTopListEntries& list, bool brief = false)
{
    const TQuentTopListEntries shownBefore = g_order.Displayed();
    bool sameSymbols = shownBefore.size() == list.size();
    for (qsizetype i = 0; sameSymbols && i < list.size(); ++i)
        sameSymbols = shownBefore[i].symbol == list[i].symbol;
    const bool due = !g_order.Frozen() && (!g_lastSort || g_orderClock > *g_lastSort + 30000);
    const TTopListOrder::TChange change = g_order.SetEntries(list);
    MODEL_CHECK(g_order.Pending().size() == list.size());
    if (!sameSymbols && due)
        g_lastSort = g_orderClock;
    MODEL_CHECK(change == (sameSymbols || due ? TTopListOrder::Reorder : TTopListOrder::Repaint));
    if (!brief)
        CheckOrder(shownBefore, list, change);
}

void CheckTopList(const TFields& f)
{
    const TQuentTopListEntries& rows = R<TTopListRows>(Quent).Rows();
    CheckSameRows(rows, ExpectedTopList(f), SameTop);
    FeedOrder(rows);
}

// Symbols unique; rows without a distance in front, the others by distance,
// largest first, equal distances by symbol.
void CheckBollingerShape()
{
    const TBollingerRows& window = R<TBollingerRows>(Bollinger);
    const TBollingerEntries& rows = window.Rows();
    QList<QByteArray> symbols;
    for (const TBollingerEntry& row : rows)
        symbols.append(row.symbol);
    std::sort(symbols.begin(), symbols.end());
    MODEL_CHECK(std::adjacent_find(symbols.begin(), symbols.end()) == symbols.end());
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const double a = std::fabs(rows[i - 1].distFromBB);
        const double b = std::fabs(rows[i].distFromBB);
        if (std::isnan(a))
            continue;
        MODEL_CHECK(!std::isnan(b));
        MODEL_CHECK(a > b || (a == b && rows[i - 1].symbol < rows[i].symbol));
    }
}

// Returns whether the hand-off the rows asked for is the one the rule gives.
bool CheckBollinger(const Snapshot& before, const TFields& f, bool handOver)
{
    const TBollingerEntries& rows = R<TBollingerRows>(Bollinger).Rows();
    const QByteArray symbol = f.value("symbol");
    const QByteArray action = f.value("action");
    const qsizetype had = FindRowBySymbol(before.bollinger, symbol);
    bool expectHandOver = true;
    if (action == "add") {
        g_bollingerAdded.insert(symbol, g_now);
        const qsizetype at = FindRowBySymbol(rows, symbol);
        MODEL_CHECK(at >= 0);
        MODEL_CHECK(rows.size() == before.bollinger.size() + (had < 0 ? 1 : 0));
        MODEL_CHECK(SameNumber(rows[at].distFromBB, Number(f, "dist_from_bb")) &&
                   SameNumber(rows[at].last, Number(f, "last")) &&
                   SameNumber(rows[at].prevClose, Number(f, "prev_close")) && rows[at].received == ToDayNumber(g_now));
    } else if (action == "delete" && had >= 0) {
        g_bollingerAdded.remove(symbol);
        MODEL_CHECK(rows.size() == before.bollinger.size() - 1);
        MODEL_CHECK(FindRowBySymbol(rows, symbol) < 0);
    } else {
        // A delete without a row repaints nothing; any other action hands the same rows over.
        expectHandOver = action != "delete";
        CheckSameRows(rows, before.bollinger, SameBollinger);
    }
    CheckBollingerShape();
    return handOver == expectHandOver;
}

// The windows' own cut and split of the text agree with the harness's.
void CheckFieldSplit(const QByteArray& text, const QByteArray& category)
{
    const std::optional<QByteArray> line = FieldLineFor(text, category);
    QByteArrayView cut;
    MODEL_CHECK(CutFieldLine(text, category, &cut) == line.has_value());
    if (!line)
        return;
    MODEL_CHECK(cut == *line);
    std::vector<std::pair<QByteArray, QByteArray>> seen;
    const bool whole = ForEachAlertField(cut, [&seen](QByteArrayView name, QByteArrayView value) {
        seen.emplace_back(name.toByteArray(), value.toByteArray());
    });
    // Past MaxAlertFields fields the reading stops.
    std::vector<std::pair<QByteArray, QByteArray>> fields = FieldList(*line);
    MODEL_CHECK(whole == (qsizetype(fields.size()) <= MaxAlertFields));
    fields.resize(std::min(fields.size(), size_t(MaxAlertFields)));
    MODEL_CHECK(seen == fields);
}

void Alert(const QByteArray& text)
{
    const TTextLines lines = LinesOf(text);
    const int target = WindowOf(lines);
    const TFields fields = target >= 0 ? FieldMap(lines.Fields) : TFields();
    // An alert of too many fields, or whose rows would take a value that is
    // too long, is dropped.
    const bool dropped = target >= 0 && OverLimits(target, lines.Fields, fields);
    const auto countsBefore = RowCounts();
    const Snapshot before = Take(target);
    CheckFieldSplit(text, target >= 0 ? g_windows[target].category : "strike");
    std::array<bool, WindowCount> handOver{};
    for (int i = 0; i < WindowCount; ++i)
        handOver[i] = g_windows[i].rows->TakeAlert(text);
    const auto countsAfter = RowCounts();
    for (int i = 0; i < WindowCount; ++i) {
        const bool addressed = i == target && !dropped;
        MODEL_CHECK(addressed || (countsAfter[i] == countsBefore[i] && !handOver[i]));
    }
    CheckCopiesKept(before);
    if (dropped)
        CheckUnchanged(before, target);
    if (target < 0 || dropped)
        return;
    bool handOverRight = handOver[target];
    switch (target) {
    case Strike:
        handOverRight = CheckStrike(before, fields, handOver[target]);
        break;
    case Symbol:
        CheckPushed(before.vantor, Viewed(R<TVantorRows>(Symbol).Rows()), ExpectedVantor(fields), MaxNewestFirstRows,
                    SameVantor);
        break;
    case Simple:
        CheckSimple(before, fields);
        break;
    case Ferrik:
        CheckFerrik(before, fields);
        break;
    case Dravel:
        CheckDravel(before, fields);
        break;
    case Points:
        CheckPoints(fields);
        break;
    case Quent:
        CheckTopList(fields);
        break;
    case Bollinger:
        handOverRight = CheckBollinger(before, fields, handOver[target]);
        break;
    }
    MODEL_CHECK(handOverRight);
}

void Tick()
{
    const Snapshot before = Take(Bollinger);
    g_now = g_now.addSecs(30);
    for (Window& window : g_windows)
        MODEL_CHECK(!window.rows->Expire(ToDayNumber(g_now)) || window.style == asBollinger);
    // Alive while added less than two minutes ago; kept in their order.
    TBollingerEntries expected;
    for (const TBollingerEntry& row : before.bollinger) {
        const QDateTime added = g_bollingerAdded.value(row.symbol);
        if (added.msecsTo(g_now) < BollingerLifetimeMs)
            expected.append(row);
        else
            g_bollingerAdded.remove(row.symbol);
    }
    CheckSameRows(R<TBollingerRows>(Bollinger).Rows(), expected, SameBollinger);
    CheckBollingerShape();
    // The same timer is the top list's clock. Thirty seconds exactly are
    // not yet more than 30 s, so a tick right after a re-sort shows nothing.
    g_orderClock += 30000;
    const bool due = SortDue();
    const TQuentTopListEntries pending = g_order.Pending();
    CheckSortStep(g_order.CheckSort(), due, pending);
}

QByteArray LastSymbol(const QByteArray& text)
{
    QByteArray line = text;
    const qsizetype cut = text.indexOf("\r\n");
    if (cut >= 0)
        line = text.mid(cut + 2);
    return FieldMap(line.left(line.indexOf("\r\n"))).value("symbol");
}

void Command(char command, const QByteArray& lastText)
{
    switch (command) {
    case 't':
        Tick();
        break;
    case 'c': {
        const auto countsBefore = RowCounts();
        for (Window& window : g_windows) {
            const qsizetype index = &window - g_windows;
            MODEL_CHECK(window.rows->Clear() == (ListStyleOf(window.style).HasClearCommand && countsBefore[index] > 0));
        }
        const auto countsAfter = RowCounts();
        for (int i = 0; i < WindowCount; ++i)
            MODEL_CHECK(countsAfter[i] == (ListStyleOf(g_windows[i].style).HasClearCommand ? 0 : countsBefore[i]));
        break;
    }
    case 'f': {
        // Either way the clock is forgotten: unfreezing with a list pending shows it at once.
        const bool frozen = g_order.Frozen();
        const bool due = frozen && g_order.HavePending();
        const TQuentTopListEntries pending = g_order.Pending();
        g_lastSort.reset();
        const TTopListOrder::TChange change = g_order.SetFrozen(!frozen);
        MODEL_CHECK(g_order.Frozen() != frozen && change != TTopListOrder::Unchanged);
        CheckSortStep(change == TTopListOrder::Repaint ? TTopListOrder::Unchanged : change, due, pending);
        break;
    }
    case 's': {
        // Sort Now works on a frozen list too.
        const bool due = g_order.HavePending();
        const TQuentTopListEntries pending = g_order.Pending();
        CheckSortStep(g_order.SortNow(), due, pending);
        break;
    }
    case 'r': {
        // Only the addressed window takes the text; that the others turn it
        // away is checked on every text by Alert.
        const int target = WindowOf(LinesOf(lastText));
        for (int i = 0; target >= 0 && i < RepeatCount - 1; ++i)
            if (g_windows[target].rows->TakeAlert(lastText) && g_windows[target].style == asQuentFull)
                FeedOrder(R<TTopListRows>(Quent).Rows(), true);
        Alert(lastText);
        MODEL_CHECK(R<TVantorRows>(Strike).Rows().size() <= MaxNewestFirstRows);
        MODEL_CHECK(R<TVantorRows>(Symbol).Rows().size() <= MaxNewestFirstRows);
        MODEL_CHECK(R<TSimpleListRows>(Simple).Rows().size() <= MaxNewestFirstRows);
        break;
    }
    case 'x':
        ReplaceExcludeList(g_excludeList, {LastSymbol(lastText)});
        break;
    default:
        Alert(QByteArray(1, command));
        break;
    }
}

// Every input starts from empty windows, a top list without an order, and
// the clock at the same moment.
void StartInput()
{
    ReplaceExcludeList(g_excludeList, {});
    g_now = StartOfInput;
    for (Window& window : g_windows)
        NewRows(window);
    g_order = TTopListOrder();
    g_orderClock = 0;
    g_lastSort.reset();
    g_order.SetClock([] { return g_orderClock; });
    g_bollingerAdded.clear();
}

} // namespace

namespace AlertRowsModel {

QByteArray CategoryOf(TAlertStyle style)
{
    for (const Window& window : g_windows)
        if (window.style == style)
            return window.category;
    return {};
}

void Start()
{
    StartInput();
    g_lastText.clear();
}

void Step(const QByteArray& piece)
{
    if (piece.size() == 1) {
        Command(piece[0], g_lastText);
        return;
    }
    Alert(piece);
    g_lastText = piece;
}

} // namespace AlertRowsModel

#if defined(__clang__)
#pragma clang attribute pop
#endif
