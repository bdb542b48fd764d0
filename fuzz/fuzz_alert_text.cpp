// Alert texts into the rows of one alert window of every list style, as the
// windows take them from the main connection, with the full top list's
// order rule behind the top-list rows as its grid keeps it. No widgets: the
// rows and the order rule are the windows' whole logic. Each piece of the
// input is one alert text; a piece of one byte is a command instead: 't'
// moves the clock 30 s on and runs every window's timer, 'c' clears every
// window, 'f' toggles the top list's freezing, 's' sorts it now, 'r' repeats
// the last text 250 times, 'x' puts the last text's symbol on the exclude list.
//
// After every step the harness checks the rows against its own reading of
// the text: the category test, the field split and decoding, the row each
// newest-first style adds (and the bound of 1000), the whole lists, the
// Bollinger order, symbol set and expiry, that only the addressed window
// changes and says so exactly when its grid must be handed the rows, that a
// copy handed out before keeps its rows, and what the top list shows, keeps
// pending and names as missing.
#include "FuzzSupport.h"
#include "Zembra/AlertParsing.h"
#include "Zembra/AlertRows.h"
#include "Zembra/ExcludeList.h"
#include "Zembra/TopListOrder.h"
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

// The harness's own code is left out of the coverage the fuzzer steers by:
// its branches say nothing about the code under test, and tracing them
// costs a third of every run.
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)

namespace {

using TFields = QHash<QByteArray, QByteArray>;

// --- The harness's own reading of an alert text ----------------------------

using FuzzSupport::PercentDecoded;

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

std::vector<std::pair<QByteArray, QByteArray>> FieldList(const QByteArray& line)
{
    std::vector<std::pair<QByteArray, QByteArray>> fields;
    for (const QByteArray& piece : line.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        if (equals >= 0)
            fields.emplace_back(PercentDecoded(piece.left(equals)), PercentDecoded(piece.mid(equals + 1)));
    }
    return fields;
}

// Later fields replace earlier ones of the same name.
TFields FieldMap(const QByteArray& line)
{
    TFields map;
    for (const auto& [name, value] : FieldList(line))
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

template <typename TRows>
const TRows& R(int index)
{
    return dynamic_cast<const TRows&>(*g_windows[index].rows);
}

void NewRows(Window& window)
{
    window.rows = TAlertRows::Create(window.style, window.category, "sma_divergence", [] { return ToDayNumber(g_now); });
    FUZZ_CHECK(window.rows->Style() == window.style && window.rows->Subscription() == window.category);
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
    FUZZ_CHECK(a.size() == b.size());
    for (qsizetype i = 0; i < a.size(); ++i)
        FUZZ_CHECK(same(a[i], b[i]));
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
    FUZZ_CHECK(a.size == b.size);
    for (qsizetype i = 0; i < a.size; ++i)
        if (const T* row = a.At(i))
            FUZZ_CHECK(same(*row, *b.At(i)));
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

// A newest-first list after one alert: the new row on top, the others one
// place down, the oldest dropped beyond the bound.
template <typename Row, typename Same>
void CheckPushed(const TView<Row>& before, const TView<Row>& after, const Row& expected, qsizetype bound, Same same)
{
    const qsizetype size = bound > 0 ? std::min(before.size + 1, bound) : before.size + 1;
    FUZZ_CHECK(after.size == size);
    FUZZ_CHECK(same(*after.At(0), expected));
    for (qsizetype i = 1; i < size; ++i) {
        const Row* now = after.At(i);
        const Row* was = before.At(i - 1);
        if (now && was)
            FUZZ_CHECK(same(*now, *was));
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
    if (ExcludeList().Contains(f.value("symbol"))) {
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

void CheckPoints(const TFields& f)
{
    const TPointsTopListEntries& rows = R<TPointsListRows>(Points).Rows();
    qsizetype n = 0;
    for (;; ++n) {
        const QByteArray suffix = QByteArray::number(n);
        const QByteArray symbol = f.value("symbol" + suffix);
        const double last = Number(f, "last" + suffix);
        const double change = Number(f, "change" + suffix);
        if (symbol.isEmpty() || std::isnan(last) || std::isnan(change))
            break;
        FUZZ_CHECK(n < rows.size());
        FUZZ_CHECK(rows[n].symbol == symbol && rows[n].last == last && rows[n].change == change &&
                   SameNumber(rows[n].percentVol, Number(f, "percent_vol" + suffix)));
    }
    FUZZ_CHECK(rows.size() == n);
}

TQuentTopListEntries ExpectedTopList(const TFields& f)
{
    TQuentTopListEntries rows;
    for (qsizetype n = 0;; ++n) {
        const QByteArray suffix = QByteArray::number(n);
        TQuentTopListEntry row;
        row.symbol = f.value("symbol" + suffix);
        if (row.symbol.isEmpty())
            return rows;
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
}

// What the top list shows after a new list: the list itself when its order
// reached the screen; otherwise the rows shown before, each replaced by the
// last row of the new list with its symbol in any letter case, and the rest
// of the new list counted as missing, the first five by name.
void CheckOrder(const TQuentTopListEntries& shownBefore, const TQuentTopListEntries& list, TTopListOrder::TChange change)
{
    if (change == TTopListOrder::Reorder) {
        CheckSameRows(g_order.Displayed(), list, SameTop);
        FUZZ_CHECK(!g_order.HavePending() && g_order.MissingCount() == 0 && g_order.MissingText().isEmpty());
        return;
    }
    FUZZ_CHECK(change == TTopListOrder::Repaint && g_order.HavePending());
    FUZZ_CHECK(g_order.Displayed().size() == shownBefore.size());
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
        FUZZ_CHECK(SameTop(g_order.Displayed()[i], entry ? *entry : shownBefore[i]));
    }
    FUZZ_CHECK(g_order.MissingCount() == missing.size());
    QString text = missing.mid(0, 5).join(QStringLiteral(", "));
    if (missing.size() > 5)
        text += QStringLiteral(" and %1 more").arg(missing.size() - 5);
    FUZZ_CHECK(g_order.MissingText() == text);
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
    FUZZ_CHECK(change == (due ? TTopListOrder::Reorder : TTopListOrder::Unchanged));
    if (!due)
        return;
    g_lastSort = g_orderClock;
    CheckSameRows(g_order.Displayed(), pending, SameTop);
    FUZZ_CHECK(!g_order.HavePending() && g_order.MissingCount() == 0);
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
    FUZZ_CHECK(g_order.Pending().size() == list.size());
    if (!sameSymbols && due)
        g_lastSort = g_orderClock;
    FUZZ_CHECK(change == (sameSymbols || due ? TTopListOrder::Reorder : TTopListOrder::Repaint));
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
    FUZZ_CHECK(std::adjacent_find(symbols.begin(), symbols.end()) == symbols.end());
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const double a = std::fabs(rows[i - 1].distFromBB);
        const double b = std::fabs(rows[i].distFromBB);
        if (std::isnan(a))
            continue;
        FUZZ_CHECK(!std::isnan(b));
        FUZZ_CHECK(a > b || (a == b && rows[i - 1].symbol < rows[i].symbol));
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
        FUZZ_CHECK(at >= 0);
        FUZZ_CHECK(rows.size() == before.bollinger.size() + (had < 0 ? 1 : 0));
        FUZZ_CHECK(SameNumber(rows[at].distFromBB, Number(f, "dist_from_bb")) &&
                   SameNumber(rows[at].last, Number(f, "last")) &&
                   SameNumber(rows[at].prevClose, Number(f, "prev_close")) && rows[at].received == ToDayNumber(g_now));
    } else if (action == "delete" && had >= 0) {
        g_bollingerAdded.remove(symbol);
        FUZZ_CHECK(rows.size() == before.bollinger.size() - 1);
        FUZZ_CHECK(FindRowBySymbol(rows, symbol) < 0);
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
    FUZZ_CHECK(CutFieldLine(text, category, &cut) == line.has_value());
    if (!line)
        return;
    FUZZ_CHECK(cut == *line);
    std::vector<std::pair<QByteArray, QByteArray>> seen;
    ForEachAlertField(cut, [&seen](QByteArrayView name, QByteArrayView value) {
        seen.emplace_back(name.toByteArray(), value.toByteArray());
    });
    FUZZ_CHECK(seen == FieldList(*line));
}

void Alert(const QByteArray& text)
{
    const TTextLines lines = LinesOf(text);
    const int target = WindowOf(lines);
    // An alert past the size limits is dropped by every window.
    const bool dropped = target >= 0 && !AlertWithinLimits(lines.Fields);
    const auto countsBefore = RowCounts();
    const Snapshot before = Take(target);
    CheckFieldSplit(text, target >= 0 ? g_windows[target].category : "strike");
    std::array<bool, WindowCount> handOver{};
    for (int i = 0; i < WindowCount; ++i)
        handOver[i] = g_windows[i].rows->TakeAlert(text);
    const auto countsAfter = RowCounts();
    for (int i = 0; i < WindowCount; ++i) {
        const bool addressed = i == target && !dropped;
        FUZZ_CHECK(addressed || (countsAfter[i] == countsBefore[i] && !handOver[i]));
    }
    CheckCopiesKept(before);
    if (target < 0 || dropped)
        return;
    const TFields fields = FieldMap(lines.Fields);
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
    FUZZ_CHECK(handOverRight);
}

void Tick()
{
    const Snapshot before = Take(Bollinger);
    g_now = g_now.addSecs(30);
    for (Window& window : g_windows)
        FUZZ_CHECK(!window.rows->Expire(ToDayNumber(g_now)) || window.style == asBollinger);
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
            FUZZ_CHECK(window.rows->Clear() == (StyleHasClearCommand(window.style) && countsBefore[index] > 0));
        }
        const auto countsAfter = RowCounts();
        for (int i = 0; i < WindowCount; ++i)
            FUZZ_CHECK(countsAfter[i] == (StyleHasClearCommand(g_windows[i].style) ? 0 : countsBefore[i]));
        break;
    }
    case 'f': {
        // Either way the clock is forgotten: unfreezing with a list pending shows it at once.
        const bool frozen = g_order.Frozen();
        const bool due = frozen && g_order.HavePending();
        const TQuentTopListEntries pending = g_order.Pending();
        g_lastSort.reset();
        const TTopListOrder::TChange change = g_order.SetFrozen(!frozen);
        FUZZ_CHECK(g_order.Frozen() != frozen && change != TTopListOrder::Unchanged);
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
        FUZZ_CHECK(R<TVantorRows>(Strike).Rows().size() <= MaxNewestFirstRows);
        FUZZ_CHECK(R<TVantorRows>(Symbol).Rows().size() <= MaxNewestFirstRows);
        FUZZ_CHECK(R<TSimpleListRows>(Simple).Rows().size() <= MaxNewestFirstRows);
        break;
    }
    case 'x':
        ReplaceExcludeList({LastSymbol(lastText)});
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
    ReplaceExcludeList({});
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

#pragma clang attribute pop

// No allocation stacks: the fuzzer allocates on every alert, and recording
// each allocation's stack was a tenth of the run and grew without bound. A
// crash's input is saved; run it again with ASAN_OPTIONS=malloc_context_size=30
// to see where its memory came from.
extern "C" const char* __asan_default_options() { return "malloc_context_size=0"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::EnsureApplication();
    StartInput();
    QByteArray last;
    for (const QByteArray& piece : FuzzSupport::Pieces(data, size)) {
        if (piece.size() == 1) {
            Command(piece[0], last);
            continue;
        }
        Alert(piece);
        last = piece;
    }
    return 0;
}
