// The per-alert cost of a full top-list window: a 50-row list with the
// eleven default columns handed to the grid, then painted.
#include "Zembra/QuentGridFull.h"
#include <QImage>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int kRows = 50;

TQuentTopListEntries MakeList(int variant, bool reversed)
{
    TQuentTopListEntries list;
    list.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        const int n = reversed ? kRows - 1 - i : i;
        TQuentTopListEntry e;
        e.symbol = "SYM" + QByteArray::number(n);
        e.priceSpike = (n % 7) + 0.1 * variant;
        e.volRate = 0.2 + 0.07 * n;
        e.todaysRange = e.openingRange = 50 + n;
        e.strength = e.upTrend = -20.5 + n;
        e.nearHigh = e.nearLow = 12.3;
        e.newHigh = (n % 5) / 4.0;
        e.newLow = (n % 3) / 2.0;
        e.last = 100 + n + 0.01 * variant;
        e.change = -1.5 + 0.1 * n;
        e.volume = 1000000 + 1000 * n + variant;
        e.count = n + variant;
        list << e;
    }
    return list;
}

struct TBenchWindow {
    TBenchWindow()
    {
        window.resize(900, 1200);
        grid = new TQuentTopListFullGrid(&window, links, spikeSound);
        grid->setGeometry(0, 0, 900, 1200); // all 50 rows visible
        grid->SetColumns(QString());
        window.show();
    }
    // Paints the whole grid, header included, as a screen update would.
    void Paint() { grid->render(&target); }

    TSymbolLinks links;
    TPriceSpikeSound spikeSound;
    QWidget window;
    TQuentTopListFullGrid* grid;
    QImage target{900, 1200, QImage::Format_RGB32};
};

// Alternates two lists of the given order, painting after each when asked.
// Reordered lists are held in place: the window is frozen after the first.
void HandOverLists(benchmark::State& state, bool reordered, bool paint)
{
    TBenchWindow w;
    if (reordered) {
        w.grid->SetEntries(MakeList(0, false));
        w.grid->SetFrozen(true); // every later list stays in place, however long the run
    }
    const TQuentTopListEntries lists[] = {MakeList(0, reordered), MakeList(1, reordered)};
    int i = 0;
    for (auto _ : state) {
        w.grid->SetEntries(lists[i++ & 1]);
        if (paint)
            w.Paint();
    }
}

// Same order, new values: what most alerts of a steady list do.
void BM_QuentSetEntriesSameOrderAndRepaint(benchmark::State& state) { HandOverLists(state, false, true); }
BENCHMARK(BM_QuentSetEntriesSameOrderAndRepaint)->Unit(benchmark::kMicrosecond);

// A new order inside the 30 seconds: the in-place update with its symbol index.
void BM_QuentSetEntriesReorderedInPlaceAndRepaint(benchmark::State& state) { HandOverLists(state, true, true); }
BENCHMARK(BM_QuentSetEntriesReorderedInPlaceAndRepaint)->Unit(benchmark::kMicrosecond);

// The list hand-over alone, without painting.
void BM_QuentSetEntriesSameOrder(benchmark::State& state) { HandOverLists(state, false, false); }
BENCHMARK(BM_QuentSetEntriesSameOrder)->Unit(benchmark::kMicrosecond);

void BM_QuentSetEntriesReorderedInPlace(benchmark::State& state) { HandOverLists(state, true, false); }
BENCHMARK(BM_QuentSetEntriesReorderedInPlace)->Unit(benchmark::kMicrosecond);

// Painting alone, for comparison.
void PaintList(benchmark::State& state, const QString& columns)
{
    TBenchWindow w;
    w.grid->SetColumns(columns);
    w.grid->SetEntries(MakeList(0, false));
    for (auto _ : state)
        w.Paint();
}

void BM_QuentPaint(benchmark::State& state) { PaintList(state, QString()); }
BENCHMARK(BM_QuentPaint)->Unit(benchmark::kMicrosecond);

// The same without the two pie columns: what the pies cost.
void BM_QuentPaintWithoutPies(benchmark::State& state) { PaintList(state, QStringLiteral("0,1,2,3,4,5,6,7,9")); }
BENCHMARK(BM_QuentPaintWithoutPies)->Unit(benchmark::kMicrosecond);

} // namespace
