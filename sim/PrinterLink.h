#pragma once
// One connection to the virtual printer (a pty, a TCP client): it feeds what arrives to its own
// CommandInterpreter and holds what the printer sends back until it is due, applying the link
// properties (USB reply escaping, automatic status back, line-rate pacing) and the fault
// switches (answer delay, noise, hang-up and stall after N bytes).
//
// The transport around it does the I/O: it asks when reading is allowed, hands in what it read,
// takes the bytes that are due and reports how many it could write.
//
// Threads: the owner's event loop only.
#include "sim/CommandInterpreter.h"
#include "sim/SimHost.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

struct LinkOptions {
    std::string via;          // "serial", "parallel", "usb", "usb-serial", "tcp"
    bool usbEscape = false;   // 00 → 1B 30, 1B → 1B 1B, as the printer's USB interface sends
    bool asb = false;         // automatic status back reports until GS a 0
};

class PrinterLink final : private InterpreterSink {
public:
    PrinterLink(SimHost& host, LinkOptions options, SimTime now);

    // Takes received bytes. What a stall or a flash write keeps the printer from taking now
    // waits in the link's inbox and is taken by pump() when reading is allowed again.
    void receive(const uint8_t* data, size_t size, SimTime now);
    void pump(SimTime now);
    // Whether the transport should read from its fd now: nothing waits in the inbox and the
    // printer is not stalled (so the peer's writes meet back-pressure while it is).
    bool wantsInput(SimTime now) const { return m_inbox.empty() && !m_hangup && now >= m_readAllowedAt; }
    // How many bytes to read at once (small when paced to a line rate).
    size_t maxRead() const;
    // The stream ended (peer closed): reports what is still pending.
    void finish();

    bool hangupRequested() const { return m_hangup; }
    // Earliest time the transport may read again (stall, flash write, pacing).
    SimTime readAllowedAt() const { return m_readAllowedAt; }
    bool readAllowed(SimTime now) const { return now >= m_readAllowedAt; }

    // Moves what is due into the write buffer; returns it (may be empty).
    const std::vector<uint8_t>& pendingOutput(SimTime now);
    // The transport wrote `n` bytes of pendingOutput().
    void wrote(size_t n, SimTime now);
    bool hasPendingOutput() const { return !m_out.empty(); }
    // Next moment something becomes due (queued replies, status report, end of a stall).
    std::optional<SimTime> nextDeadline() const;
    // Periodic work: automatic status back, the beep after a flash write.
    void tick(SimTime now);

    // Line rate for pacing (0: unpaced); the pty transport reads it from the slave's termios.
    void setLineRate(int bitsPerSecond, int bitsPerChar);
    void setAsb(bool on, SimTime now);

    static std::vector<uint8_t> escapeUsb(const std::vector<uint8_t>& reply);
    static const std::vector<uint8_t>& asbReport();
    static const std::vector<uint8_t>& noiseBytes();

private:
    void reply(const std::vector<uint8_t>& bytes) override;
    void replyApart(const std::vector<uint8_t>& bytes, int ms) override;
    void event(SimEvent e) override;
    void restart(const std::string& reason) override;
    void asbEnabled(bool on) override;
    void flashWriting(const std::string& verdict) override;
    void stateChanged() override;
    void printedText(const std::vector<uint8_t>& text, int justify) override;
    void printedPicture(int number, int mode) override;
    void cut() override;
    void queue(std::vector<uint8_t> bytes, SimTime due);
    size_t consume(const uint8_t* data, size_t size, SimTime now);

    SimHost& m_host;
    LinkOptions m_options;
    CommandInterpreter m_interpreter;
    SimTime m_now;

    struct Chunk {
        SimTime due;
        std::vector<uint8_t> bytes;
    };
    std::deque<Chunk> m_queue;
    std::vector<uint8_t> m_out;
    std::vector<uint8_t> m_inbox;

    long m_received = 0;
    bool m_hangup = false;
    bool m_stalled = false;
    SimTime m_readAllowedAt;
    SimTime m_writeAllowedAt;
    int m_baud = 0;
    int m_bitsPerChar = 10;

    bool m_asbOn = false;
    SimTime m_nextAsb;
    std::optional<SimTime> m_beepAt;
    std::string m_flashVerdict;
};
