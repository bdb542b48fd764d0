// Arbitrary bytes as the server's compressed stream, cut into reads, into a
// conversation with requests waiting. The harness inflates the same reads on
// its own and checks every delivery, the close on corrupt input, and the error
// responses owed at the end.
#include "ConversationHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using FuzzSupport::ConversationHarness;
    ConversationHarness::Run(data, size, ConversationHarness::TInput::Compressed);
    return 0;
}
