// P64 is Base64 with the case of letters swapped, "+" as "_", "/" as "-" and
// no padding: checked against Qt's own Base64 for every input.
#include "FuzzSupport.h"
#include "Shared/P64.h"
#include "P64Oracle.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray in = FuzzSupport::Bytes(data, size);
    if (P64Encode(in) != ExpectedFromBase64(in))
        std::abort();
    return 0;
}
