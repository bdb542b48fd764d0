// UrlDecode against the harness's decoder written from the rules; the output
// is never longer than the input, and every hexadecimal digit has its value.
#include "FuzzSupport.h"
#include "Shared/WireMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray in = FuzzSupport::Bytes(data, size);
    const QByteArray out = UrlDecode(in);
    FUZZ_CHECK(out.size() <= in.size());
    FUZZ_CHECK(out == FuzzSupport::PercentDecoded(in));
    for (const char c : in)
        if (FuzzSupport::HexDigit(c) >= 0)
            FUZZ_CHECK(HexDigitValue(c) == FuzzSupport::HexDigit(c));
    return 0;
}
