#pragma once
// PrinterConnection: one connection to a printer, whatever carries it (serial line, parallel
// port, USB printer-class node, TCP network module, output file). A tool picks nothing
// itself: makeConnection() chooses the implementation once from the connection settings, and
// the tool then opens, writes, reads, reopens and closes through this interface. The protocol
// differences the printer commands need (which connections get ESC @, a printer check, a
// reopen after a restart, how long a write may take) are the connection's traits(), filled by
// the factory; kind() and describe() are for telling the user what the connection is.
//
// Every operation returns an IoResult that carries the count, the errno and a message; the
// message gains context on its way up ("failed to write block 3 of 17 to /dev/usb/lp0: No
// such device").
//
// Threads: one thread at a time drives a connection (the GUI thread, a transfer worker or
// the CLI's main thread). Implementations that need a receive thread (serial watch thread,
// parallel read thread) own it and end it in close(). The one exception is the cancel token
// lent with setCancelToken(): any thread or a signal handler may cancel it, and every
// blocking wait of the connection then ends within a fraction of a second.
#include "app/CancelToken.h"
#include "app/Clock.h"
#include "app/PortName.h"
#include "port/ConnectionTraits.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class [[nodiscard]] IoResult {
public:
    enum class Outcome {
        Done,     // every byte written / some bytes read / opened
        TimedOut, // the deadline passed: count holds what was moved before it
        HungUp,   // the printer closed the connection or the device went away
        Failed,   // any other failure (open refused, write error, ...)
        Cancelled, // the job's cancel token ended the wait: count holds what was moved before it
    };

    static IoResult done(std::size_t count = 0) { return IoResult(Outcome::Done, count, 0, {}); }
    static IoResult timedOut(std::size_t count, std::string message)
    {
        return IoResult(Outcome::TimedOut, count, 0, std::move(message));
    }
    // error: the errno that told of the hang-up (EIO, ENODEV, EPIPE, ...), 0 when none did.
    static IoResult hungUp(std::size_t count, std::string message, int error = 0)
    {
        return IoResult(Outcome::HungUp, count, error, std::move(message));
    }
    static IoResult cancelled(std::size_t count, std::string message)
    {
        return IoResult(Outcome::Cancelled, count, 0, std::move(message));
    }
    // error: the errno of the failing call (0 when there is none); the message should already
    // contain its text.
    static IoResult failed(std::string message, int error = 0, std::size_t count = 0)
    {
        return IoResult(Outcome::Failed, count, error, std::move(message));
    }

    bool ok() const { return m_outcome == Outcome::Done; }
    bool isCancelled() const { return m_outcome == Outcome::Cancelled; }
    explicit operator bool() const { return ok(); }
    Outcome outcome() const { return m_outcome; }
    // Bytes written or read (also on a failure: how far it got).
    std::size_t count() const { return m_count; }
    // errno of the failure, 0 when none applies.
    int error() const { return m_error; }
    // Empty on success.
    const std::string& message() const { return m_message; }
    // "what: message" for a failure; a success stays unchanged.
    IoResult context(const std::string& what) const
    {
        if (ok())
            return *this;
        IoResult r = *this;
        r.m_message = what + ": " + m_message;
        return r;
    }

private:
    IoResult(Outcome o, std::size_t count, int error, std::string message)
        : m_outcome(o), m_count(count), m_error(error), m_message(std::move(message))
    {
    }
    Outcome m_outcome;
    std::size_t m_count;
    int m_error;
    std::string m_message;
};

class PrinterConnection {
public:
    using Ms = std::chrono::milliseconds;
    // A write gives up when the printer took no byte for this long (out of paper, cover
    // open, offline), whatever its own deadline: "seconds, not minutes".
    static constexpr Ms kDefaultStallLimit{15000};
    // How far stream() may run ahead of the printer.
    static constexpr std::size_t kStreamWindow = 64 * 1024;
    virtual ~PrinterConnection() = default;

    // Serial, Parallel, Usb, Ethernet or File (an output file; "FILE" was resolved at open).
    virtual PortKind kind() const = 0;
    // What the user knows the connection by: "serial port /dev/ttyUSB0", "parallel port
    // /dev/lp0", "USB printer /dev/usb/lp0", "network printer 10.0.0.5:6001", "file out.prn".
    virtual std::string describe() const = 0;

    // Opens (or re-opens) the connection. Failure: the reason with errno text.
    virtual IoResult open() = 0;
    virtual bool isOpen() const = 0;
    // Writes every byte before the deadline. A write is done only when the bytes have left
    // for the printer (serial: drained; TCP: acknowledged by the peer); a stall ends in
    // TimedOut with the count that left.
    virtual IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) = 0;
    // For a long transfer: like write(), but may return while up to kStreamWindow bytes are
    // still on their way (TCP: in the socket, not yet acknowledged), so the link stays busy
    // between calls; drain() then waits for the rest. The count is what the connection took:
    // those bytes reach the printer unless the connection breaks, so a caller that tries
    // again goes on after them. An empty span only waits for the window. Kinds whose write
    // already waits for the printer stream by writing.
    virtual IoResult stream(std::span<const std::uint8_t> bytes, Ms deadline) { return write(bytes, deadline); }
    // Waits until every byte written has reached the printer (TCP: acknowledged); a stall
    // ends in TimedOut, a reset in HungUp, with the count of the bytes written since open()
    // that did reach it. Done at once where write() already waited.
    virtual IoResult drain(Ms deadline)
    {
        (void)deadline;
        return IoResult::done();
    }
    // Waits up to `wait` for the printer's bytes and returns what arrived (count 0 and Done
    // when nothing came; HungUp when the printer closed the connection). Bytes are delivered
    // decoded (the USB printer's escape pairs undone) and without parallel status reports.
    virtual IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) = 0;
    // Harmless when not open. Never blocks longer than a bounded time.
    virtual void close() = 0;
    // close(), then tries to open again as the policy says.
    virtual IoResult reopen(const ReopenPolicy& policy) = 0;
    // False for an output file: nothing can answer.
    virtual bool canAnswer() const = 0;

    // Connections whose printer answers through a read thread that the tool runs for the
    // length of one read (the parallel port, see traits().statusReports): starts it, or says
    // why it could not. The others read whenever they are open: nothing to do.
    virtual IoResult startReadThread() { return IoResult::done(); }
    // Ends that read thread (within one poll period); harmless when none runs.
    virtual void stopReadThread() {}
    // The device layer's own words for the last failure, where messages show them as they
    // always were ("[ParPortCtl] CreateFile fail : ..."); empty when it has none.
    virtual std::string deviceErrorText() const { return {}; }

    // What the tools need to know to talk to the printer behind this connection. Filled by
    // makeConnection(); a connection made without it (a wrapper, a test double) has the
    // traits of its kind().
    ConnectionTraits traits() const
    {
        if (m_traits)
            return *m_traits;
        ConnectionTraits t = connectionTraits(kind());
        t.canAnswer = canAnswer();
        t.packetReplies = t.packetReplies && t.canAnswer;
        return t;
    }
    void setTraits(ConnectionTraits traits) { m_traits = std::move(traits); }

    // The no-progress bound of write() (kDefaultStallLimit unless set; tavroctl --stall).
    void setStallLimit(Ms limit) { m_stallLimit = limit; }
    Ms stallLimit() const { return m_stallLimit; }

    // The job's cancel token, lent for as long as it is set (null: nothing cancels). Once it is
    // cancelled, write(), stream(), drain(), readFor(), a network open() and reopen()'s waits
    // end within about 200 ms with Outcome::Cancelled and the count moved so far (a write that
    // finds the token already cancelled sends nothing). Not cut short: a parallel port's open,
    // which the kernel holds while another program has the port claimed, and the 100 ms a
    // parallel close gives the printer. Set by the driving thread, also while a receive
    // thread of the connection reads (hence atomic).
    void setCancelToken(const CancelToken* token) { m_cancel = token; }
    const CancelToken* cancelToken() const { return m_cancel; }

protected:
    bool cancelRequested() const
    {
        const CancelToken* token = m_cancel;
        return token && token->cancelled();
    }
    // "write to <describe()> cancelled; n of m bytes sent", and the read's counterpart.
    IoResult cancelledWrite(std::size_t sent, std::size_t total) const
    {
        return IoResult::cancelled(sent, "write to " + describe() + " cancelled; " + std::to_string(sent) + " of " +
                                             std::to_string(total) + " bytes sent");
    }
    IoResult cancelledRead(std::size_t count = 0) const
    {
        return IoResult::cancelled(count, "read from " + describe() + " cancelled");
    }

    Ms m_stallLimit = kDefaultStallLimit;
    std::atomic<const CancelToken*> m_cancel{nullptr};

private:
    std::optional<ConnectionTraits> m_traits;
};

// Lends a token to a connection for one scope and puts the previous one back: the NV upload's
// padding after a cancel must not be cut by the token that asked for it.
class ScopedCancelToken {
public:
    ScopedCancelToken(PrinterConnection& connection, const CancelToken* token)
        : m_connection(connection), m_previous(connection.cancelToken())
    {
        m_connection.setCancelToken(token);
    }
    ~ScopedCancelToken() { m_connection.setCancelToken(m_previous); }
    ScopedCancelToken(const ScopedCancelToken&) = delete;
    ScopedCancelToken& operator=(const ScopedCancelToken&) = delete;

private:
    PrinterConnection& m_connection;
    const CancelToken* m_previous;
};

// The message of a printer that hung up, for every kind.
inline constexpr const char* kPrinterClosedText = "the printer closed the connection";

// "the printer took no data for 15 s (out of paper, cover open or offline?)"
std::string stallText(std::chrono::milliseconds limit);

// A job's own token, lent to its connection for one step or one transfer when the caller lent
// none: the desktop tool's Cancel (the job's cancel() or abort(), from the GUI thread) then ends
// a write or read that is blocked inside it, as Ctrl-C ends it through the token tavroctl lends.
class LentCancelToken {
public:
    LentCancelToken(PrinterConnection& connection, const CancelToken& own)
        : m_connection(connection), m_lent(!connection.cancelToken())
    {
        if (m_lent)
            m_connection.setCancelToken(&own);
    }
    ~LentCancelToken()
    {
        if (m_lent)
            m_connection.setCancelToken(nullptr);
    }
    LentCancelToken(const LentCancelToken&) = delete;
    LentCancelToken& operator=(const LentCancelToken&) = delete;

private:
    PrinterConnection& m_connection;
    bool m_lent;
};

// reopen() as the policy says, for any implementation: close, the first wait, then one try
// per pause (a single try when there are none), each failure followed by its pause. Every
// wait is taken on clock; with the connection's cancel token set, in slices of at most
// kCancelSlice so that a cancel ends it (Cancelled, nothing opened). Returns the last try's
// result, with the number of tries added to a failure.
IoResult reopenByPolicy(PrinterConnection& connection, Clock& clock, const ReopenPolicy& policy);
// The longest piece of a Clock wait that a cancel cannot cut short.
inline constexpr std::chrono::milliseconds kCancelSlice{50};
// Waits `delay` on the clock, in kCancelSlice pieces when a token is given. False when the
// token was cancelled before or during the wait.
bool sleepUnlessCancelled(Clock& clock, std::chrono::milliseconds delay, const CancelToken* token);

// Writes everything and turns a short result into a failure with context: "failed to
// write <what> to <describe()>: <reason>". The count of a failure is how far it got.
IoResult writeAll(PrinterConnection& connection, std::span<const std::uint8_t> bytes,
                  std::chrono::milliseconds deadline, const std::string& what);

struct ConnectionSettings;
struct DeviceRoots;
class Prompter;
class CErrorLog;

// Told when a connection opened or closed: a tool's port facade (CPorts) that lends itself
// so that the state it shows (m_IsOpen, the file name "FILE" resolved to) follows a
// connection that its dialog does not open itself. Called on the thread that opens and
// closes the connection.
class ConnectionObserver {
public:
    // name: the port the connection opened; for an output file, the file's name.
    virtual void connectionOpened(PortKind kind, const std::string& name) = 0;
    virtual void connectionClosed() = 0;
    // The device roots the facade was made with, used for "USB" when the host names none,
    // so that a lent facade's connection finds the printer the facade itself would find.
    // Null: none of its own.
    virtual const DeviceRoots* deviceRoots() const { return nullptr; }

protected:
    ~ConnectionObserver() = default;
};

// The host services a connection uses: the Clock for every wait, the Prompter for the "FILE"
// name question, the error log for the port layer's diagnostics. Each connection owns its
// device (fd, threads, socket); nothing here is shared between connections but these
// services, so several connections can be open at once.
struct ConnectionHost {
    Clock& clock;
    Prompter& prompter;
    CErrorLog& log;
    // Told of opens and closes (may be null).
    ConnectionObserver* observer = nullptr;
    // Where "USB" looks for the family's printer (lent; null: the observer's, else the roots
    // of the environment, TAVRO_SYSFS_ROOT and TAVRO_DEV_ROOT).
    const DeviceRoots* roots = nullptr;
};

// The one place that chooses code by the connection kind. Returns a closed connection, or a
// failure for a name that no connection can use.
std::unique_ptr<PrinterConnection> makeConnection(const ConnectionSettings& settings, ConnectionHost host);
