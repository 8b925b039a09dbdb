#pragma once
// The printer's command interpreter: fed the bytes that arrive on one connection, in any split,
// it recognises each frame by its first bytes and hands it to the decoder of its protocol:
//
//   receipt commands (ESC, GS, FS)   ReceiptDecoder, with the text between them in a TextLine
//   GS I, GS a                       StatusDecoder
//   GS ( E functions 1/2/5/6         UserSetupDecoder
//   FS q, FS p, ESC FS q, ESC FS p   NvLogoDecoder
//   1C 01 30 .. 1C 02 30             LogoSettingsDecoder
//   01 11 <code> 32                  FirmwareBlockDecoder
//   40 F0/F1/F2 (TAVRO15 only)       LegacyPacketDecoder
//
// The decoders update the PrinterState and report through one sink: replies (plain bytes; the
// transport escapes them where the interface needs it), one event per command, and the
// printer-level effects that a transport has to carry out (restart, automatic status back on or
// off, busy while flash is written). Anything else is reported as raw data and skipped; no input
// can make it fail.
//
// While a firmware area is incomplete (PrinterState::incomplete) the printer's program does not
// run: only the two downloads are decoded; every other byte is dropped unanswered and unprinted,
// and reported as one "ignored" event per batch fed.
//
// Threads: one interpreter belongs to one connection; it is not thread-safe.
#include "sim/FirmwareBlockDecoder.h"
#include "sim/InterpreterSink.h"
#include "sim/LegacyPacketDecoder.h"
#include "sim/LogoSettingsDecoder.h"
#include "sim/NvLogoDecoder.h"
#include "sim/PrinterState.h"
#include "sim/ReceiptDecoder.h"
#include "sim/SimEvent.h"
#include "sim/StatusDecoder.h"
#include "sim/TextLine.h"
#include "sim/UserSetupDecoder.h"

#include <cstdint>
#include <string>
#include <vector>

class CommandInterpreter {
public:
    CommandInterpreter(PrinterState& state, InterpreterSink& sink, InterpreterFaults faults = {});
    CommandInterpreter(const CommandInterpreter&) = delete;
    CommandInterpreter& operator=(const CommandInterpreter&) = delete;

    // Takes bytes; returns how many it took. It stops early only right after a firmware
    // transfer block, because the printer does not read while it writes its flash: the caller
    // hands in the rest when the printer is ready again.
    size_t feedSome(const uint8_t* data, size_t size);
    // Takes all bytes (for captures and tests, where nobody waits for the flash).
    void feed(const uint8_t* data, size_t size);
    void feed(const std::vector<uint8_t>& data) { feed(data.data(), data.size()); }
    // End of the stream (the capture file ended): reports what is still pending.
    void finish();
    // The connection ended but the printer did not: a definition in progress is kept
    // printer-wide and continues with the bytes of the next connection (a tool that
    // reconnects in the middle of an upload).
    void suspend();

    // The time of the bytes fed next, in ms of any monotonic clock (links set it; captures
    // have none, and then nothing is timed).
    void setNowMs(int64_t ms) { m_nv.setNowMs(ms); }
    // How long the NV memory erases after FS q n (0: at once).
    void setNvEraseMs(int ms) { m_nv.setEraseMs(ms); }

    // The Function 6 answer for a setting, or empty when the printer does not know it.
    static std::vector<uint8_t> settingReply(const PrinterState& state, int number)
    {
        return UserSetupDecoder::settingReply(state, number);
    }

private:
    size_t step(const uint8_t* data, size_t size);
    void take(uint8_t b);
    void refeed(const std::vector<uint8_t>& bytes, size_t from);
    ProtocolDecoder* decoderFor(int protocol);

    PrinterState& m_state;
    InterpreterSink& m_sink;
    TextLine m_line;
    ReceiptDecoder m_receipt;
    StatusDecoder m_status;
    UserSetupDecoder m_setup;
    NvLogoDecoder m_nv;
    LogoSettingsDecoder m_logoSettings;
    FirmwareBlockDecoder m_firmware;
    LegacyPacketDecoder m_legacy;

    // The first bytes of a frame while they do not yet tell whose it is.
    std::vector<uint8_t> m_lead;
    // The decoder whose frame is open, if any.
    ProtocolDecoder* m_active = nullptr;
    bool m_pause = false;
    // Bytes dropped in this batch because an area is incomplete.
    int64_t m_ignored = 0;
};
