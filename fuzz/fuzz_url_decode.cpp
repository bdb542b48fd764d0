// UrlDecode never fails, never grows its input, and leaves text without "%" alone.
#include "FuzzSupport.h"
#include "Shared/WireMessages.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray in = FuzzSupport::Bytes(data, size);
    const QByteArray out = UrlDecode(in);
    if (out.size() > in.size())
        std::abort();
    if (!in.contains('%') && out != in)
        std::abort();
    return 0;
}
