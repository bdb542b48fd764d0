// The cost of one alert in an alert window as its list grows: a window that
// already shows N rows receives one more alert (parse, row update, and the
// hand-off to the grid, as when each alert comes on a pass of the event loop
// of its own). The cost must not grow with N. And the cost of the worst
// single alerts a hostile server can send: each must stay well under 100 ms.
//
//   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVISK_BENCH=ON
//   cmake --build build-rel --target bench_alert_window
//   build-rel/bench/bench_alert_window
#include "GuiTestParts.h"
#include "base/DebugLog.h"
#include "Zembra/AlertParsing.h"
#include "Zembra/AlertWindowUnit.h"
#include "Shared/NewestFirstList.h"
#include "grids/ListGridFamily.h"
#include "platform/core/IniFile.h"

#include <QVector>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

const QByteArray FerrikAlert = "ferrik\r\ntime=09%3A31&symbol=MSFT&change=-1.25&count=12&volume=34567&bb=2.5&rank=0.5&rv=3";
const QByteArray DravelAlert = "dravel\r\ntime=09%3A31&symbol=MSFT&last=10&prev_close=8&count=3&volume=100";
const QByteArray StrikeAlert = "strike\r\nsymbol=MSFT&last=10.5&prev_close=10&sma_divergence=0.12&time=09%3A31%3A02";

// What the windows register with (alerts reach them directly here); it
// lives as long as they do.
TMainConnection& Unconnected()
{
    TMainConnectionDependencies untimed;
    untimed.Timer = false;
    static TMainConnection* const connection = new TMainConnection(ConnectionSettingsFromFile(QString()), untimed);
    return *connection;
}

// A window that already shows `rows` rows.
std::unique_ptr<TAlertForm> WindowWithRows(GuiTestParts& parts, const QByteArray& section, const QByteArray& alert,
                                           int rows)
{
    auto window = std::make_unique<TAlertForm>(parts.AlertWindowParts(Unconnected()));
    window->LoadSettings(TIniFile::FromText("[w]\n" + section), "w");
    for (int i = 0; i < rows; ++i)
        window->HandleAlert(alert);
    window->ShowRowsNow();
    return window;
}

// A fixed number of alerts per run, so that a growing list stays near its
// starting size: N to N + AlertsPerRun rows.
constexpr int AlertsPerRun = 5000;

void RunAlerts(benchmark::State& state, const QByteArray& section, const QByteArray& alert)
{
    GuiTestParts parts;
    const auto window = WindowWithRows(parts, section, alert, int(state.range(0)));
    for (auto _ : state) {
        window->HandleAlert(alert);
        window->ShowRowsNow();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rows_after"] = window->Grid()->EntryCount();
}

void BM_FerrikAlert(benchmark::State& state)
{
    RunAlerts(state, "subscription=ferrik\ndisplay=ferrik-simplelist\n", FerrikAlert);
}
void BM_DravelAlert(benchmark::State& state)
{
    RunAlerts(state, "subscription=dravel\ndisplay=dravel-simplelist\n", DravelAlert);
}
// Bounded at 1000 rows: the 100,000 alerts of the fill leave 1000.
void BM_StrikeAlert(benchmark::State& state)
{
    RunAlerts(state, "subscription=strike\n", StrikeAlert);
}

// The two ways of keeping a newest-first list whose earlier value a grid
// still holds: an implicitly shared array that must insert at its front (kept
// at N rows), and the append-only newest-first list (growing from N rows).
void BM_SharedArrayPrepend(benchmark::State& state)
{
    QVector<TFerrikEntry> rows(state.range(0));
    QVector<TFerrikEntry> heldByGrid;
    TFerrikEntry row;
    row.symbol = "MSFT";
    for (auto _ : state) {
        rows.prepend(row);
        rows.removeLast();
        heldByGrid = rows;
    }
    state.SetItemsProcessed(state.iterations());
}
void BM_NewestFirstListPush(benchmark::State& state)
{
    TNewestFirstList<TFerrikEntry> rows;
    TFerrikEntry row;
    row.symbol = "MSFT";
    for (qsizetype i = 0; i < state.range(0); ++i)
        rows.PushFront(row);
    TNewestFirstList<TFerrikEntry> heldByGrid;
    for (auto _ : state) {
        rows.PushFront(row);
        heldByGrid = rows;
    }
    state.SetItemsProcessed(state.iterations());
}

// The worst single alerts a hostile server can send, each filling the
// largest frame the conversation accepts (64 MiB) and each to the window it
// costs most: pieces without "=" (all skipped); empty names (dropped at
// field MaxAlertFields + 1); a field the strike window reads in every piece,
// as many as an alert may hold, and the rest of the frame in a field nobody
// reads; a symbol of 64 MiB (dropped: too long for a row); a field of
// 64 MiB nobody reads beside a real symbol; the longest top list (cut to its
// first MaxListRows rows of fifteen fields), then as many numbered fields
// as an alert may hold, all landing in its first row, and the rest of the
// frame unread.
enum THostileAlert { EmptyPieces, EmptyNames, MostFields, LongSymbol, LongUnreadField, LongestTopList };

constexpr qsizetype FrameCap = 64 << 20;

// `piece` repeated `count` times (or until the frame is full), and the rest
// of the frame in one field nobody reads.
QByteArray FillFrame(QByteArray text, const QByteArray& piece, qsizetype count)
{
    text.reserve(FrameCap);
    for (qsizetype i = 0; i < count && text.size() + piece.size() <= FrameCap; ++i)
        text += piece;
    if (text.size() + 7 < FrameCap)
        text += "&note=" + QByteArray(FrameCap - text.size() - 6, 'n');
    return text;
}

QByteArray HostileAlert(THostileAlert kind)
{
    switch (kind) {
    case EmptyPieces:
        return FillFrame("strike\r\nsymbol=MSFT", "&", FrameCap);
    case EmptyNames:
        return FillFrame("strike\r\nsymbol=MSFT", "&=", FrameCap);
    case MostFields:
        return FillFrame("strike\r\nsymbol=MSFT", "&time=", MaxAlertFields - 2); // with the symbol and the note
    case LongSymbol:
        return "strike\r\nsymbol=" + QByteArray(FrameCap - 15, 'M');
    case LongUnreadField:
        return FillFrame("strike\r\nsymbol=MSFT", "", 0);
    case LongestTopList: {
        QByteArray text = "quent\r\n";
        for (qsizetype n = 0; n <= MaxListRows; ++n) {
            const QByteArray i = QByteArray::number(n);
            for (const char* column : {"symbol", "price_spike", "vol_rate", "todays_range", "opening_range", "strength",
                                       "up_trend", "near_high", "near_low", "new_high", "new_low", "last", "change",
                                       "volume", "count"})
                text += column + i + (qstrcmp(column, "symbol") == 0 ? "=S" + i : QByteArray("=1.5")) + '&';
        }
        return FillFrame(text + "last0=1", "&last0=1", MaxAlertFields - 2 - (MaxListRows + 1) * 15);
    }
    }
    return {};
}

void BM_HostileAlert(benchmark::State& state)
{
    const auto kind = THostileAlert(state.range(0));
    const QByteArray alert = HostileAlert(kind);
    auto debugSink = std::make_unique<TDebugSinkScope>([](const QString&) {}); // one line per dropped alert
    GuiTestParts parts;
    const auto window =
        WindowWithRows(parts, kind == LongestTopList ? "subscription=quent\ndisplay=quent\n" : "subscription=strike\n",
                       StrikeAlert, 0);
    for (auto _ : state) {
        window->HandleAlert(alert);
        window->ShowRowsNow();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes"] = double(alert.size());
    state.counters["rows"] = window->Grid()->EntryCount();
    debugSink.reset();
}

} // namespace

BENCHMARK(BM_HostileAlert)->DenseRange(EmptyPieces, LongestTopList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FerrikAlert)->Arg(1000)->Arg(100000)->Arg(1000000)->Iterations(AlertsPerRun)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DravelAlert)->Arg(1000)->Arg(100000)->Iterations(AlertsPerRun)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StrikeAlert)->Arg(1000)->Arg(100000)->Iterations(AlertsPerRun)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SharedArrayPrepend)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NewestFirstListPush)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
