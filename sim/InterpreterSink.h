#pragma once
// What the printer's protocol decoders act through: the sink that carries their replies, their
// events and the printer-level effects a transport has to carry out (restart, automatic status
// back on or off, busy while flash is written, what goes on paper), and the faults a test can
// switch on in them.
//
// Threads: a sink belongs to one connection; its decoders call it on that connection's thread.
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
    std::set<int> refuseSettings;   // Function 5 items for these settings are not stored
    int nakEvery = 0;               // NAK the first try of every k-th legacy packet (0: never)
    bool splitDle = false;          // legacy answers: DLE and ACK/NAK in separate writes
    bool strayAck = false;          // legacy answers: a lone 06 in front of each answer
};
