#pragma once
// What a connection of the virtual printer needs from the process around it: the printer's
// state, the event log, the printer-wide effects (a restart takes the USB nodes away), and the
// switches it was started with.
#include "sim/InterpreterSink.h"
#include "sim/PrinterState.h"
#include "sim/SimEvent.h"

#include <chrono>

class PaperRoll;
#include <string>

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

// Faults a test can switch on for every connection of the printer.
struct LinkFaults {
    int answerDelayMs = 0;     // every reply leaves this much later
    bool noise = false;        // noise bytes in front of every reply
    long hangupAfter = -1;     // close the connection after this many received bytes
    long stallAfter = -1;      // stop reading after this many received bytes ...
    int stallMs = 0;           // ... for this long
    bool silent = false;       // nothing goes back (what arrives is still taken)
};

struct SimSettings {
    int family = 1;
    int restartMs = 1500;        // how long the USB nodes are gone after a restart
    int storeMs = 0;             // how long the printer stores what makes it restart before it goes down
    int flashBusyMs = 1000;      // how long the printer is deaf while it writes its flash
    int asbIntervalMs = 1000;    // automatic status back period on the parallel port
    int nvEraseMs = 3000;        // the NV bit-image memory erases this long after FS q n
    bool pace = false;           // pace serial links to the line rate set on the slave
    InterpreterFaults interpreterFaults;
    LinkFaults linkFaults;
};

class SimHost {
public:
    virtual ~SimHost() = default;
    virtual PrinterState& state() = 0;
    virtual const SimSettings& settings() const = 0;
    virtual void logEvent(const std::string& via, const SimEvent& e) = 0;
    virtual void printerRestart(const std::string& reason) = 0;
    virtual void stateChanged() = 0;
    // The printer's paper (receipts as pictures), when the host keeps one.
    virtual PaperRoll* paper() { return nullptr; }
    // A network module came back from the restart after an applied change (record `index`):
    // the TCP port moves with it.
    virtual void networkSettingsApplied(size_t index, const NetworkRecord& record) { (void)index; (void)record; }
};
