#include "FuzzSupport.h"
#include "base/DebugLog.h"
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace FuzzSupport {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    // Live for the whole fuzz run.
    new TDebugLog;
    new QCoreApplication(argc, argv);
    new TDebugSinkScope([](const QString&) {});
}

QList<QByteArray> Pieces(const uint8_t* data, size_t size)
{
    QList<QByteArray> pieces;
    const QByteArray all = Bytes(data, size);
    qsizetype start = 0;
    for (;;) {
        const qsizetype cut = all.indexOf(PieceSeparator, start);
        if (cut < 0) {
            pieces.append(all.mid(start));
            return pieces;
        }
        pieces.append(all.mid(start, cut - start));
        start = cut + 2;
    }
}

void Fail(const char* rule, const char* file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", rule, file, line);
    std::abort();
}

} // namespace FuzzSupport
