// One alert's work in a Ferrik window: the new row goes in front of the
// window's list, the grid gets the list, and the grid repaints. The cost must
// not grow with the number of rows the window has collected.
#include "grids/FerrikGrid.h"
#include <QPixmap>
#include <QWidget>
#include <benchmark/benchmark.h>

namespace {

TFerrikEntry Row(int i)
{
    TFerrikEntry entry;
    entry.time = "09:31";
    entry.symbol = "SYM" + QByteArray::number(i % 5000);
    entry.change = i % 7 - 3.5;
    entry.volume = 1000 + i;
    entry.count = i % 13;
    entry.rank = (i % 3) / 2.0;
    return entry;
}

struct Window {
    Window(int rows)
    {
        owner.resize(480, 300);
        grid = new TFerrikGrid(&owner, links);
        grid->setGeometry(owner.rect());
        owner.show();
        for (int i = 0; i < rows; ++i)
            list.PushFront(Row(i));
        grid->SetEntries(list);
    }
    TSymbolLinks links;
    QWidget owner;
    TFerrikGrid* grid;
    TFerrikEntries list;
};

// SetEntries and one paint of what is visible.
void BM_FerrikSetEntriesAndRepaint(benchmark::State& state)
{
    Window window(int(state.range(0)));
    QPixmap target(window.owner.size());
    int next = int(state.range(0));
    for (auto _ : state) {
        window.list.PushFront(Row(next++));
        window.grid->SetEntries(window.list);
        window.grid->render(&target);
    }
    state.SetLabel(std::to_string(window.grid->RowCount() - 1) + " rows at the end");
}

// SetEntries alone, without painting.
void BM_FerrikSetEntries(benchmark::State& state)
{
    Window window(int(state.range(0)));
    int next = int(state.range(0));
    for (auto _ : state) {
        window.list.PushFront(Row(next++));
        window.grid->SetEntries(window.list);
    }
}

} // namespace

BENCHMARK(BM_FerrikSetEntriesAndRepaint)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FerrikSetEntries)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
