// The INI reader takes any bytes; whatever it stores reads back stably and
// case-insensitively.
#include "FuzzSupport.h"
#include "platform/core/IniFile.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = FuzzSupport::Bytes(data, size);
    const TIniFile ini = TIniFile::FromText(text);
    for (const QByteArray& line : text.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        const QByteArray upper = ini.ReadString("General", key.toUpper(), "\x01");
        const QByteArray lower = ini.ReadString("general", key.toLower(), "\x01");
        if (upper != lower && key.toUpper().toLower() == key.toLower())
            std::abort();
    }
    (void)ini.ReadInteger("General", "window count", 0);
    return 0;
}
