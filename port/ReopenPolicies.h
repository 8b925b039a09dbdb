#pragma once
// The reopen rules of the printers, as data for PrinterConnection::reopen.
#include "port/ConnectionTraits.h"

namespace reopenpolicy {

using std::chrono::milliseconds;

// A USB printer restarts after it stored new settings (a setup write, a logo settings
// frame): its node goes away and comes back. Wait 3 s, then five tries, the pauses getting
// shorter as the printer is more likely back.
inline ReopenPolicy usbRestart()
{
    return {milliseconds{3000},
            {milliseconds{500}, milliseconds{400}, milliseconds{300}, milliseconds{200}, milliseconds{100}}};
}

// The parallel port is closed and opened again after a setup write, once the printer had
// 4 s to restart.
inline ReopenPolicy parallelAfterWrite() { return {milliseconds{4000}, {}}; }

} // namespace reopenpolicy
