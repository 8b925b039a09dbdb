#pragma once
// The printer's command interpreter: a pure state machine fed the bytes that arrive on one
// connection, in any split. It updates the PrinterState and reports through a sink:
// replies (plain bytes; the transport escapes them where the interface needs it), one event
// per command, and the printer-level effects that a transport has to carry out (restart,
// automatic status back on or off, busy while flash is written).
//
// It understands what the setup tool sends: ESC @, ESC i, ESC a, GS I, GS a, GS ( E functions
// 1/2/5/6, GS ( N, FS q (with the ESC prefix of the star emulation and the gray flag), FS p,
// the top/bottom logo frame, plain text, the firmware transfer block and the legacy download
// packets. Anything else is reported as raw data and skipped; no input can make it fail.
//
// Threads: one interpreter belongs to one connection; it is not thread-safe.
#include "sim/FlashDigest.h"
#include "sim/NvLogoStore.h"
#include "sim/PrinterState.h"
#include "sim/SimEvent.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class InterpreterSink {
public:
    virtual ~InterpreterSink() = default;
    virtual void reply(const std::vector<uint8_t>& bytes) = 0;
    // A reply that leaves on its own, `ms` after the ones before it (so that a reader gets
    // it in a separate read).
    virtual void replyApart(const std::vector<uint8_t>& bytes, int ms) { (void)ms; reply(bytes); }
    virtual void event(SimEvent e) = 0;
    // After "end user setting mode" and after the logo settings frame.
    virtual void restart(const std::string& reason) { (void)reason; }
    virtual void asbEnabled(bool on) { (void)on; }
    // The firmware transfer block is complete: the printer writes its flash and is deaf for
    // a while; `verdict` is "ok" or why the block was refused.
    virtual void flashWriting(const std::string& verdict) { (void)verdict; }
    virtual void stateChanged() {}
    // What goes on paper, for a receipt model: a text line, a stored picture in a print mode
    // (0..3), a cut.
    virtual void printedText(const std::vector<uint8_t>& text, int justify) { (void)text; (void)justify; }
    virtual void printedPicture(int number, int mode) { (void)number; (void)mode; }
    virtual void cut() {}
};

struct InterpreterFaults {
    std::set<int> noAnswerSettings; // Function 6 requests left unanswered
    int nakEvery = 0;               // NAK the first try of every k-th legacy packet (0: never)
    bool splitDle = false;          // legacy answers: DLE and ACK/NAK in separate writes
    bool strayAck = false;          // legacy answers: a lone 06 in front of each answer
};

class CommandInterpreter {
public:
    CommandInterpreter(PrinterState& state, InterpreterSink& sink, InterpreterFaults faults = {});

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
    void setNowMs(int64_t ms) { m_nowMs = ms; }
    // How long the NV memory erases after FS q n (0: at once).
    void setNvEraseMs(int ms) { m_nvEraseMs = ms; }

    // The Function 6 answer for a setting, or empty when the printer does not know it.
    static std::vector<uint8_t> settingReply(const PrinterState& state, int number);

private:
    enum class State { Idle, Collect, FsqData, FwData };
    enum class Collecting { Command, FsqHeader, LegacyHead, LegacyBody };

    void feedByte(uint8_t b);
    void idleByte(uint8_t b);
    void startCollect(uint8_t first, size_t need);
    void complete();
    void refeed(std::vector<uint8_t> bytes);
    void backToIdle();

    void completeEsc();
    void completeGs();
    void completeFs();
    void completeGsParen();
    void userSetting(uint8_t fn, const std::vector<uint8_t>& body);
    void functionFive(const std::vector<uint8_t>& body);
    void functionSix(const std::vector<uint8_t>& body);

    void startDefine(int count, bool star);
    void fsqHeader();
    void nextPicture();
    void finishDefine();
    void printPicture(int n, int m, bool star);
    void logoFrame();

    void firmwareHeader();
    void firmwareData(const uint8_t* data, size_t n);
    void firmwareDone();

    void legacyHead();
    void legacyBody();
    void legacyAnswer(bool ack);

    void addText(uint8_t b);
    void flushText(bool eol);
    void addRaw(uint8_t b);
    void flushRaw();
    void emit(SimEvent e);

    PrinterState& m_state;
    InterpreterSink& m_sink;
    InterpreterFaults m_faults;

    State m_stateKind = State::Idle;
    Collecting m_collecting = Collecting::Command;
    std::vector<uint8_t> m_cmd;
    size_t m_need = 0;
    bool m_pause = false;

    std::vector<uint8_t> m_text;
    std::vector<uint8_t> m_raw;
    int m_color = 1;
    int m_justify = 0;

    using Define = nv_store::NvDefinition;
    Define m_def;
    void resumeDefinition();
    int64_t m_nowMs = -1;
    int m_nvEraseMs = 0;

    struct Firmware {
        uint8_t code = 0;
        uint32_t fileSize = 0;
        uint16_t checksum = 0;
        uint32_t received = 0;
        uint32_t remaining = 0;
        uint32_t sum = 0;
        uint8_t tail[4] = {};
        FlashDigest digest;
    } m_fw;

    struct Legacy {
        bool erased = false;
        std::string area;
        uint8_t sector = 0;
        uint32_t start = 0, end = 0, next = 0;
        uint32_t sum = 0;
        int packets = 0;
        FlashDigest digest;
        bool lastWasNakFault = false;
        uint32_t lastNakAddress = 0;
    } m_legacy;
};
