// Benchmarks run under an offscreen QApplication so that grid and painting
// benchmarks have fonts and a paint device.
#include "base/DebugLog.h"
#include <QApplication>
#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
