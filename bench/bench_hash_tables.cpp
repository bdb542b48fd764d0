// Building, reading and freeing the table of one alert, as the alert window
// does for every alert text it receives.
#include "Shared/HashTables.h"
#include <benchmark/benchmark.h>
#include <vector>

namespace {
struct TAlertFields {
    std::vector<QByteArray> Keys;
    std::vector<QByteArray> Values;
};

// Decoded field texts as they come out of the alert parser: texts of their own.
TAlertFields TypicalAlert(int fieldCount)
{
    static const char* const names[] = {"symbol", "price", "change", "volume", "time",
                                        "bid", "ask", "high", "low", "open"};
    TAlertFields fields;
    for (int i = 0; i < fieldCount; ++i) {
        fields.Keys.push_back(QByteArray(names[i % 10]) + QByteArray::number(i / 10));
        fields.Values.push_back(QByteArray::number(12.5 + i * 0.37, 'f', 2));
    }
    return fields;
}

void BM_BuildLookUpAndFreeAlertTable(benchmark::State& state)
{
    const TAlertFields fields = TypicalAlert(int(state.range(0)));
    for (auto _ : state) {
        tHashTable table(0);
        for (size_t i = 0; i < fields.Keys.size(); ++i)
            table.Add(fields.Keys[i], fields.Values[i]);
        for (const QByteArray& key : fields.Keys)
            benchmark::DoNotOptimize(table.Lookup(key));
        benchmark::DoNotOptimize(table.Lookup("absent"));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildLookUpAndFreeAlertTable)->Arg(10)->Arg(40)->Arg(80);

void BM_LookUpInFilledTable(benchmark::State& state)
{
    const TAlertFields fields = TypicalAlert(40);
    tHashTable table(0);
    for (size_t i = 0; i < fields.Keys.size(); ++i)
        table.Add(fields.Keys[i], fields.Values[i]);
    for (auto _ : state)
        for (const QByteArray& key : fields.Keys)
            benchmark::DoNotOptimize(table.Lookup(key));
    state.SetItemsProcessed(state.iterations() * 40);
}
BENCHMARK(BM_LookUpInFilledTable);
}
