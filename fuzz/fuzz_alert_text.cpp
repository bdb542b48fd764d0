// Alert texts into one alert window of every list style (offscreen), the way
// the main connection hands them over. Each piece of the input is one alert
// text; a piece of one byte is a command instead: 't' moves the clock 30 s on
// and runs every window's timer, 'c' clears every window, 'f' toggles the top
// list's freezing, 's' sorts it now, 'r' repeats the last text 250 times, 'x'
// puts the last text's symbol on the exclude list.
//
// After every step the harness checks the windows against its own reading of
// the text: the field split and decoding, the row each newest-first style
// adds (and the bound of 1000), the whole lists, the Bollinger order and
// symbol set, the expiry, and that every grid shows exactly the window's rows
// while the copies handed out before keep their rows.
#include "FuzzSupport.h"
#include "Shared/HashTables.h"
#include "Zembra/AlertParsing.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/ExcludeList.h"
#include "platform/core/IniFile.h"
#include <QDateTime>
#include <QHash>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace {

using TFields = QHash<QByteArray, QByteArray>;

// --- The harness's own reading of an alert text ----------------------------

using FuzzSupport::PercentDecoded;

// The field line when the text belongs to the category.
std::optional<QByteArray> FieldLineFor(const QByteArray& text, const QByteArray& category)
{
    // Lines end with CR LF; a lone CR or LF is part of the line.
    QList<QByteArray> crlfLines;
    QByteArray current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            crlfLines.append(current);
            current.clear();
            ++i;
        } else {
            current.append(text[i]);
        }
    }
    crlfLines.append(current);
    if (crlfLines[0] != category)
        return std::nullopt;
    return crlfLines.size() > 1 ? crlfLines[1] : QByteArray();
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

TFields FieldMap(const QByteArray& line)
{
    TFields map;
    for (const auto& [name, value] : FieldList(line))
        map.insert(name, value);
    return map;
}

bool SameNumber(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

double Number(const TFields& fields, const QByteArray& key)
{
    const double value = ReadAlertNumber(fields.value(key));
    FUZZ_CHECK(std::isnan(value) || std::isfinite(value));
    return value;
}

qint32 Count(const TFields& fields, const QByteArray& key) { return ReadAlertCount(fields.value(key)); }

// --- The windows ----------------------------------------------------------

struct Window {
    const char* category;
    const char* settings;
    TAlertForm* form = nullptr;
};

Window g_windows[] = {
    {"strike", ""},
    {"bollinger", "display=set\nextra=Band\n"},
    {"symbol", "display=symbol\n"},
    {"pointslist", "display=pointslist\nvolume=1\n"},
    {"simplelist", "display=simplelist\n"},
    {"ferrik", "display=ferrik-simplelist\n"},
    {"quent", "display=quent\n"},
    {"dravel", "display=dravel-simplelist\n"},
};

// How often 'r' repeats a text: four in a row pass the bound of 1000 rows.
constexpr int RepeatCount = 250;

// Windows of the unbounded styles are replaced once they hold more rows.
constexpr qsizetype RenewAboveRows = 200;

// The windows' clock: fixed, moved only by the 't' command.
QDateTime g_now;
const QDateTime StartOfInput(QDate(2026, 12, 7), QTime(14, 30), Qt::UTC);
// When each Bollinger symbol was last added, by the same clock.
QHash<QByteArray, QDateTime> g_bollingerAdded;

TAlertForm* NewWindow(const Window& window)
{
    auto* form = new TAlertForm;
    form->SetClock([] { return g_now; });
    const QByteArray ini = "[Alert Window 0]\nsubscription=" + QByteArray(window.category) + "\n" + window.settings;
    form->LoadSettings(TIniFile::FromText(ini), "Alert Window 0");
    FUZZ_CHECK(form->Subscription() == window.category);
    return form;
}

template <typename Rows, typename Same>
void CheckSameRows(const Rows& a, const Rows& b, Same same)
{
    FUZZ_CHECK(a.size() == b.size());
    for (qsizetype i = 0; i < a.size(); ++i)
        FUZZ_CHECK(same(a[i], b[i]));
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

// The windows by style, in the order of g_windows.
enum TWindowIndex { Strike, Bollinger, Symbol, Points, Simple, Ferrik, Quent, Dravel, WindowCount };

TAlertForm& W(int index) { return *g_windows[index].form; }

// Row counts of every window, to see that an alert touched only its own.
std::array<qsizetype, WindowCount> RowCounts()
{
    return {W(Strike).StrikeRows().size(),   W(Bollinger).BollingerRows().size(),
            W(Symbol).SymbolRows().size(),   W(Points).PointsRows().size(),
            W(Simple).SimpleListRows().size(), W(Ferrik).FerrikRows().size(),
            W(Quent).QuentRows().size(),     W(Dravel).DravelRows().size()};
}

// The window whose category is the text's first line, or -1.
int WindowOf(const QByteArray& text)
{
    for (int i = 0; i < WindowCount; ++i)
        if (FieldLineFor(text, g_windows[i].category))
            return i;
    return -1;
}

// What one window held before a step, and the copy its grid held then.
struct Snapshot {
    TView<TVantorEntry> vantor;
    TVantorEntries vantorGridCopy;
    TView<TPointsTopListEntry> simple;
    TView<TFerrikEntry> ferrik;
    TFerrikEntries ferrikGridCopy;
    TView<TDravelEntry> dravel;
    TBollingerEntries bollinger;
};

Snapshot Take(int window)
{
    Snapshot s;
    switch (window) {
    case Strike:
        s.vantor = Viewed(W(Strike).StrikeRows());
        s.vantorGridCopy = W(Strike).StrikeView->Entries();
        break;
    case Symbol:
        s.vantor = Viewed(W(Symbol).SymbolRows());
        s.vantorGridCopy = W(Symbol).SymbolView->Entries();
        break;
    case Simple:
        s.simple = Viewed(W(Simple).SimpleListRows());
        break;
    case Ferrik:
        s.ferrik = Viewed(W(Ferrik).FerrikRows());
        s.ferrikGridCopy = W(Ferrik).FerrikView->Entries();
        break;
    case Dravel:
        s.dravel = Viewed(W(Dravel).DravelRows());
        break;
    case Bollinger:
        s.bollinger = W(Bollinger).BollingerRows();
        break;
    default:
        break;
    }
    return s;
}

// The window's grid shows exactly the window's rows, and the copy its grid
// held before the step kept its rows.
void CheckGrid(int window, const Snapshot& before)
{
    switch (window) {
    case Strike:
        CheckSameRows(Viewed(W(Strike).StrikeView->Entries()), Viewed(W(Strike).StrikeRows()), SameVantor);
        CheckSameRows(Viewed(before.vantorGridCopy), before.vantor, SameVantor);
        break;
    case Symbol:
        CheckSameRows(Viewed(W(Symbol).SymbolView->Entries()), Viewed(W(Symbol).SymbolRows()), SameVantor);
        CheckSameRows(Viewed(before.vantorGridCopy), before.vantor, SameVantor);
        break;
    case Simple:
        CheckSameRows(Viewed(W(Simple).PointsView->Entries()), Viewed(W(Simple).SimpleListRows()), SamePoints);
        break;
    case Points:
        CheckSameRows(W(Points).PointsView->Entries(), W(Points).PointsRows(), SamePoints);
        break;
    case Ferrik:
        CheckSameRows(Viewed(W(Ferrik).FerrikView->Entries()), Viewed(W(Ferrik).FerrikRows()), SameFerrik);
        CheckSameRows(Viewed(before.ferrikGridCopy), before.ferrik, SameFerrik);
        break;
    case Dravel:
        CheckSameRows(Viewed(W(Dravel).DravelView->Entries()), Viewed(W(Dravel).DravelRows()), SameDravel);
        break;
    case Bollinger:
        CheckSameRows(W(Bollinger).BollingerView->Entries(), W(Bollinger).BollingerRows(), SameBollinger);
        break;
    default:
        break;
    }
}

void CheckAllGrids()
{
    for (int i = 0; i < WindowCount; ++i)
        CheckGrid(i, Take(i));
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

TVantorEntry ExpectedVantor(const TFields& f, const QByteArray& extraKey)
{
    TVantorEntry row;
    row.symbol = f.value("symbol");
    row.last = Number(f, "last");
    row.prevClose = Number(f, "prev_close");
    row.extra = Number(f, extraKey);
    row.time = f.value("time");
    return row;
}

void CheckStrike(const Snapshot& before, const TFields& f)
{
    const auto after = Viewed(W(Strike).StrikeRows());
    if (ExcludeList().Contains(f.value("symbol")))
        CheckSameRows(after, before.vantor, SameVantor);
    else
        CheckPushed(before.vantor, after, ExpectedVantor(f, "sma_divergence"), MaxNewestFirstRows, SameVantor);
}

void CheckSimple(const Snapshot& before, const TFields& f)
{
    TPointsTopListEntry row;
    row.symbol = f.value("symbol");
    row.last = Number(f, "last");
    row.change = Number(f, "change");
    row.percentVol = 0;
    CheckPushed(before.simple, Viewed(W(Simple).SimpleListRows()), row, MaxNewestFirstRows, SamePoints);
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
    CheckPushed(before.ferrik, Viewed(W(Ferrik).FerrikRows()), row, 0, SameFerrik);
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
    CheckPushed(before.dravel, Viewed(W(Dravel).DravelRows()), row, 0, SameDravel);
}

void CheckPoints(const TFields& f)
{
    const TPointsTopListEntries& rows = W(Points).PointsRows();
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

void CheckQuent(const TFields& f)
{
    const TQuentTopListEntries& rows = W(Quent).QuentRows();
    qsizetype n = 0;
    for (;; ++n) {
        const QByteArray suffix = QByteArray::number(n);
        const QByteArray symbol = f.value("symbol" + suffix);
        if (symbol.isEmpty())
            break;
        FUZZ_CHECK(n < rows.size());
        FUZZ_CHECK(rows[n].symbol == symbol && SameNumber(rows[n].last, Number(f, "last" + suffix)) &&
                   SameNumber(rows[n].priceSpike, Number(f, "price_spike" + suffix)) &&
                   rows[n].volume == Count(f, "volume" + suffix) && rows[n].count == Count(f, "count" + suffix));
    }
    FUZZ_CHECK(rows.size() == n);
}

// Symbols unique and all in the symbol set, which holds nothing else; rows
// without a distance in front, the others by distance, largest first, equal
// distances by symbol.
void CheckBollingerShape()
{
    const TAlertForm& window = W(Bollinger);
    const TBollingerEntries& rows = window.BollingerRows();
    QList<QByteArray> symbols;
    for (const TBollingerEntry& row : rows)
        symbols.append(row.symbol);
    std::sort(symbols.begin(), symbols.end());
    FUZZ_CHECK(std::adjacent_find(symbols.begin(), symbols.end()) == symbols.end());
    FUZZ_CHECK(window.BollingerSymbols().Items() == symbols);
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const double a = std::fabs(rows[i - 1].distFromBB);
        const double b = std::fabs(rows[i].distFromBB);
        if (std::isnan(a))
            continue;
        FUZZ_CHECK(!std::isnan(b));
        FUZZ_CHECK(a > b || (a == b && rows[i - 1].symbol < rows[i].symbol));
    }
}

void CheckBollinger(const Snapshot& before, const TFields& f)
{
    const TBollingerEntries& rows = W(Bollinger).BollingerRows();
    const QByteArray symbol = f.value("symbol");
    const QByteArray action = f.value("action");
    const qsizetype had = FindRowBySymbol(before.bollinger, symbol);
    if (action == "add") {
        g_bollingerAdded.insert(symbol, g_now);
        const qsizetype at = FindRowBySymbol(rows, symbol);
        FUZZ_CHECK(at >= 0);
        FUZZ_CHECK(rows.size() == before.bollinger.size() + (had < 0 ? 1 : 0));
        FUZZ_CHECK(SameNumber(rows[at].distFromBB, Number(f, "dist_from_bb")) &&
                   SameNumber(rows[at].last, Number(f, "last")) &&
                   SameNumber(rows[at].prevClose, Number(f, "prev_close")));
    } else if (action == "delete" && had >= 0) {
        g_bollingerAdded.remove(symbol);
        FUZZ_CHECK(rows.size() == before.bollinger.size() - 1);
        FUZZ_CHECK(FindRowBySymbol(rows, symbol) < 0);
    } else {
        CheckSameRows(rows, before.bollinger, SameBollinger);
    }
    CheckBollingerShape();
}

// The window's own cut and split of the text agree with the harness's.
void CheckFieldSplit(const QByteArray& text, const QByteArray& category)
{
    const std::optional<QByteArray> line = FieldLineFor(text, category);
    QByteArray cut;
    FUZZ_CHECK(CutFieldLine(text, category, &cut) == line.has_value());
    if (!line)
        return;
    FUZZ_CHECK(cut == *line);
    std::vector<std::pair<QByteArray, QByteArray>> seen;
    ForEachAlertField(cut, [&seen](const QByteArray& name, const QByteArray& value) { seen.emplace_back(name, value); });
    FUZZ_CHECK(seen == FieldList(cut));
    tHashTable table(0);
    ReadAlertFields(cut, table);
    const TFields model = FieldMap(cut);
    FUZZ_CHECK(table.Count() == model.size());
    for (auto it = model.cbegin(); it != model.cend(); ++it)
        FUZZ_CHECK(table.ContainsKey(it.key()) && table.Lookup(it.key()) == it.value());
}

void Alert(const QByteArray& text)
{
    const int target = WindowOf(text);
    // An alert past the size limits is dropped by every window.
    const bool dropped = target >= 0 && !AlertWithinLimits(*FieldLineFor(text, g_windows[target].category));
    const auto countsBefore = RowCounts();
    const Snapshot before = Take(target);
    CheckFieldSplit(text, target >= 0 ? g_windows[target].category : "strike");
    for (Window& window : g_windows)
        window.form->HandleAlert(text);
    const auto countsAfter = RowCounts();
    for (int i = 0; i < WindowCount; ++i)
        FUZZ_CHECK((i == target && !dropped) || countsAfter[i] == countsBefore[i]);
    if (target < 0 || dropped)
        return;
    const TFields fields = FieldMap(*FieldLineFor(text, g_windows[target].category));
    switch (target) {
    case Strike:
        CheckStrike(before, fields);
        break;
    case Symbol:
        CheckPushed(before.vantor, Viewed(W(Symbol).SymbolRows()), ExpectedVantor(fields, "sma_divergence"),
                    MaxNewestFirstRows, SameVantor);
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
        CheckQuent(fields);
        break;
    case Bollinger:
        CheckBollinger(before, fields);
        break;
    }
    CheckGrid(target, before);
}

void Tick()
{
    const Snapshot before = Take(Bollinger);
    g_now = g_now.addSecs(30);
    for (Window& window : g_windows)
        window.form->ExpireBollingersTimerTimer();
    // Alive while added less than two minutes ago; kept in their order.
    TBollingerEntries expected;
    for (const TBollingerEntry& row : before.bollinger) {
        const QDateTime added = g_bollingerAdded.value(row.symbol);
        if (added.msecsTo(g_now) < BollingerLifetimeMs)
            expected.append(row);
        else
            g_bollingerAdded.remove(row.symbol);
    }
    CheckSameRows(W(Bollinger).BollingerRows(), expected, SameBollinger);
    CheckBollingerShape();
    CheckGrid(Bollinger, before);
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
    TAlertForm& quent = W(Quent);
    switch (command) {
    case 't':
        Tick();
        break;
    case 'c': {
        const auto countsBefore = RowCounts();
        for (Window& window : g_windows)
            window.form->ClearWindowMenuItemClick();
        const auto countsAfter = RowCounts();
        for (int i = 0; i < WindowCount; ++i)
            FUZZ_CHECK(countsAfter[i] == (StyleHasClearCommand(W(i).Style()) ? 0 : countsBefore[i]));
        CheckAllGrids();
        break;
    }
    case 'f':
        quent.FreezeActionUpdate();
        quent.FreezeActionExecute();
        quent.FreezeActionUpdate();
        FUZZ_CHECK(quent.FreezeAction->isChecked() == quent.QuentView->Frozen());
        break;
    case 's':
        quent.SortNowActionUpdate();
        quent.SortNowActionExecute();
        quent.SortNowActionUpdate();
        break;
    case 'r':
        for (int i = 0; i < RepeatCount - 1; ++i)
            for (Window& window : g_windows)
                window.form->HandleAlert(lastText);
        Alert(lastText);
        CheckAllGrids();
        CheckBollingerShape();
        FUZZ_CHECK(W(Strike).StrikeRows().size() <= MaxNewestFirstRows);
        FUZZ_CHECK(W(Symbol).SymbolRows().size() <= MaxNewestFirstRows);
        FUZZ_CHECK(W(Simple).SimpleListRows().size() <= MaxNewestFirstRows);
        break;
    case 'x':
        ReplaceExcludeList({LastSymbol(lastText)});
        break;
    default:
        Alert(QByteArray(1, command));
        break;
    }
}

// Every input starts from empty windows where the windows allow it: the lists
// that can be cleared are cleared, the Bollinger rows expire, the whole lists
// are emptied by an alert without rows. The unbounded lists cannot be
// emptied; their windows are replaced once they grow.
void StartInput()
{
    ReplaceExcludeList({});
    g_now = StartOfInput.addDays(1);
    for (Window& window : g_windows) {
        if (!window.form) {
            window.form = NewWindow(window);
            continue;
        }
        window.form->ClearWindow();
        window.form->ExpireBollingersTimerTimer();
    }
    // A whole-list alert without rows empties those lists.
    for (int style : {Points, Quent})
        g_windows[style].form->HandleAlert(QByteArray(g_windows[style].category) + "\r\n");
    // Small lists keep the checks after every alert cheap; the windows given
    // up stay registered with the main connection, which holds them weakly.
    for (int style : {Ferrik, Dravel}) {
        Window& window = g_windows[style];
        if (window.form->FerrikRows().size() + window.form->DravelRows().size() > RenewAboveRows) {
            delete window.form;
            window.form = NewWindow(window);
        }
    }
    TAlertForm& quent = W(Quent);
    if (quent.QuentView->Frozen())
        quent.FreezeActionExecute();
    g_bollingerAdded.clear();
    g_now = StartOfInput;
    FUZZ_CHECK(W(Bollinger).BollingerRows().isEmpty() && W(Points).PointsRows().isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::EnsureApplication(true);
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
