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
    // Lives for the whole fuzz run.
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

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray PercentDecoded(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out.append(char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
            i += 2;
        } else {
            out.append(text[i]);
        }
    }
    return out;
}

void Fail(const char* rule, const char* file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", rule, file, line);
    std::abort();
}

} // namespace FuzzSupport
