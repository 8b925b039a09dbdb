#pragma once
// How the logo tool's actions reach the printer through a PrinterConnection: the host
// services they share, the write deadline, the printer check and the opening rules that
// differ per connection (its traits: which are reopened, get GS I 1 and get ESC @). Every
// failure is shown through the Prompter with the catalog text the action uses and returned
// with the connection's own reason for the CLI and the error log.
#include "app/Progress.h"
#include "app/Result.h"
#include "logo/LogoFrames.h"
#include "port/PrinterConnection.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

class CErrorLog;
class Clock;
class Prompter;

// What every logo engine is given by its host (dialog, CLI, test).
struct LogoEngineDeps {
    PrinterConnection& connection;
    Clock& clock;
    Prompter& prompter;
    CErrorLog& log;
    ProgressSink& progress;
};

namespace logo_link {

using Ms = std::chrono::milliseconds;

// The printer check's answer is awaited this long and not evaluated: it only gives a
// printer that was asleep time to wake before the real data come.
inline constexpr Ms kCheckAnswerWait{500};

// Writes the bytes within the connection's write deadline; the result says how far they got.
IoResult send(PrinterConnection& c, std::span<const uint8_t> bytes);

// GS I 1, then one answer byte awaited up to kCheckAnswerWait on connections that can answer.
// Fails only when the request cannot be written.
IoResult printerCheck(PrinterConnection& c);

// True when the job's cancel token lent to the connection was cancelled.
inline bool cancelled(const PrinterConnection& c)
{
    return c.cancelToken() && c.cancelToken()->cancelled();
}

} // namespace logo_link
