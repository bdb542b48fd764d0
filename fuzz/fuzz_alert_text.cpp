// Alert texts into the rows of one alert window of every list style, checked
// against the model of the rows (tests/support/AlertRowsModel.h, which also
// runs under the tests). Each piece of the input is one alert text; a piece
// of one byte is a command: 't' moves the clock 30 s on and runs every
// window's timer, 'c' clears every window, 'f' toggles the top list's
// freezing, 's' sorts it now, 'r' repeats the last text 250 times, 'x' puts
// the last text's symbol on the exclude list.
#include "AlertRowsModel.h"
#include "FuzzSupport.h"

// No allocation stacks: the fuzzer allocates on every alert, and recording
// each allocation's stack was a tenth of the run and grew without bound. A
// crash's input is saved; run it again with ASAN_OPTIONS=malloc_context_size=30
// to see where its memory came from.
extern "C" const char* __asan_default_options() { return "malloc_context_size=0"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::EnsureApplication();
    try {
        AlertRowsModel::Start();
        for (const QByteArray& piece : FuzzSupport::Pieces(data, size))
            AlertRowsModel::Step(piece);
    } catch (const AlertRowsModel::TBrokenRule& broken) {
        FuzzSupport::Fail(broken.what(), __FILE__, __LINE__);
    }
    return 0;
}
