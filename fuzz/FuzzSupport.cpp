#include "FuzzSupport.h"
#include "Shared/DebugLog.h"
#include <QCoreApplication>
#include <QList>

namespace FuzzSupport {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QCoreApplication(argc, argv); // lives for the whole fuzz run
        SetDebugSink([](const QString&) {});
    }
}

QList<QByteArray> Pieces(const uint8_t* data, size_t size)
{
    QList<QByteArray> pieces;
    const QByteArray all = Bytes(data, size);
    qsizetype start = 0;
    for (;;) {
        const qsizetype cut = all.indexOf("\xFF\xFE", start);
        if (cut < 0) {
            pieces.append(all.mid(start));
            return pieces;
        }
        pieces.append(all.mid(start, cut - start));
        start = cut + 2;
    }
}

} // namespace FuzzSupport
