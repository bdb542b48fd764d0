// Arbitrary inflated bytes as the server's frames: each piece is compressed
// here into one sync-flushed burst, so the fuzzer works on frame cutting
// (headers and payloads split anywhere, unknown, cancelled and reused ids,
// zero and negative lengths) instead of on zlib's checksums.
#include "ConversationHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using FuzzSupport::ConversationHarness;
    ConversationHarness::Run(data, size, ConversationHarness::TInput::Inflated);
    return 0;
}
