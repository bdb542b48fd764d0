#include "LocalMainConnection.h"
#include "TestEnvironment.h"
#include "Zembra/MainConnectionUnit.h"

void UseLocalMainConnection()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    TestEnvironment::WriteIni("[Connection]\naddress=127.0.0.1:1\n");
    MainConnection().StopTimer();
}
