#pragma once
// The language the tests run in: English, whatever this machine's system language or the
// user's LANG and LC_ALL say. The tool reads the system language from TAVRO_ETC_ROOT's
// locale.conf when it is set; every test program points it at a folder of its own naming
// English, and the programs the tests start (tavroctl, tavro-sim, the desktop tool) inherit
// it. A test about another language sets that itself.
#include "TempDir.h"

#include <cstdlib>

inline void runTestsInEnglish()
{
    static TempDir etc;
    writeFileBytes(etc.path() / "locale.conf", "LANG=en_US.UTF-8\n");
    ::setenv("TAVRO_ETC_ROOT", etc.path().c_str(), 1);
}
