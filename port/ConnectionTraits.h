#pragma once
// ConnectionTraits: what the printer protocol needs to know about one connection, filled by
// the connection factory. The tools decide from these facts, never from the kind: which
// connections get the printer check and ESC @ before a job, which are opened for each action,
// how a connection comes back after the printer stored settings and restarted, and how long
// a write may take.
#include "app/PortName.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

// How a connection is made again after the printer restarted or after a write that needs the
// port closed (data, not code; every wait is taken on the connection's Clock).
struct ReopenPolicy {
    // Closed first, then this wait before the first try.
    std::chrono::milliseconds firstWait{0};
    // One try per entry; the pause is taken after a failed try (so five entries are five
    // tries). An empty list means a single try.
    std::vector<std::chrono::milliseconds> pausesAfterFailure;
};

// Which settings a user setup read asks the printer for over a connection, and in which order.
enum class SetupReadList {
    Full,     // the 18 settings (serial, USB, a file that records the requests)
    Network,  // the network module does not pass setting 253 on: 17
    Parallel, // 1 and 2 first and no 253, the order the acknowledgement walks again: 17
};

// What the user waits for while the printer restarts after storing its settings, in the
// words of the connection.
enum class RestartNotice {
    Plain,         // nothing the user sees goes away (a serial line, a file)
    Printer,       // the printer restarts behind its port (a parallel port)
    UsbPrinter,    // the USB printer leaves the bus and comes back
    NetworkModule, // the network module restarts
};

struct ConnectionTraits {
    using Ms = std::chrono::milliseconds;

    // False for "WIFI": it only lives between the connection dialog and its network dialog
    // and carries no printer job.
    bool carriesJobs = true;

    // False for an output file: nothing can answer, so no reply is awaited.
    bool canAnswer = true;
    // The printer check (GS I 1, one answer byte awaited) goes before a job: serial, USB and
    // parallel printers. The network module forwards a job as it comes and gets none.
    bool printerCheck = false;
    // ESC @ goes before a job's data: serial and USB printers. The parallel port and the
    // network module do not get it.
    bool initialise = false;
    // The bytes are recorded in a file (a capture), not sent to a printer. Where a capture
    // is meant to show the byte stream of a serial line, the tools add what that line gets.
    bool capture = false;
    // The connection is opened for one action and closed after it (the network module takes
    // one connection at a time and its printer restarts under it); the others stay open while
    // their dialog or command runs.
    bool openedPerAction = false;
    // write() waits until the printer's side acknowledged every byte, and stream() may run
    // ahead of it (the network module): a long transfer streams, and a chunk the module did
    // not take is offered again.
    bool streamsAhead = false;
    // A write returns only once the bytes have left the line at its speed (a serial port):
    // a transfer needs no pauses of its own, and a write that ends without a hang-up is the
    // printer holding the line off.
    bool linePaced = false;
    // The printer's reply to a download packet (ACK/NAK) reaches the tool. The parallel
    // port's back channel carries only status reports for this, and a file nothing.
    bool packetReplies = true;
    // The printer sends automatic status reports over the back channel until it is told not
    // to (the parallel port): a tool that reads answers turns them off first and sees to
    // the answers' arrival itself.
    bool statusReports = false;
    // Closed and opened again before an NV definition (the parallel port): it gets no ESC @,
    // so a fresh open is the printer's clean start after whatever came before.
    bool reopenBeforeDefinition = false;
    // The printer's node goes away while it restarts after storing settings (a USB printer):
    // how to get it back before the action counts as done.
    std::optional<ReopenPolicy> restartReopen;
    // The parallel port is closed and opened again after a setup write, once the printer
    // had time to restart.
    std::optional<ReopenPolicy> reopenAfterSetupWrite;
    // After a user setup write the printer restarts with its new settings, and its node goes
    // away and comes back meanwhile (a USB printer, and a USB virtual serial port): how to get
    // it back.
    std::optional<ReopenPolicy> setupRestartReopen;
    // The user setup read of this connection.
    SetupReadList setupReadList = SetupReadList::Full;
    // What the user setup dialog says while the printer restarts after a write.
    RestartNotice restartNotice = RestartNotice::Plain;
    // A connection opened per action must not be opened again before the printer is back
    // after storing settings.
    Ms restartWait{0};
    // Waited after the last write before closing: the network module passes the data on to
    // the printer before a closed connection makes it drop them.
    Ms settleBeforeClose{0};
    // A write of n bytes may take max(minWriteDeadline, writePerByte * n); see writeDeadline.
    Ms writePerByte{100};
    Ms minWriteDeadline{0};

    // The one write deadline: 100 ms per byte (the time-out the printers were always given:
    // at 9600 baud a byte takes about 1 ms, so only a printer holding CTS or XOFF runs into
    // it), but never less than minWriteDeadline: 2 s on a serial line for a printer to wake
    // and start taking data, 10 s for parallel, USB, network and file, which take a block
    // at once or are stuck (out of paper) a while before they refuse. A printer that takes
    // no byte at all ends a write earlier, at the connection's stall limit.
    Ms writeDeadline(std::size_t bytes) const
    {
        const Ms perBytes = writePerByte * static_cast<long long>(bytes);
        return perBytes > minWriteDeadline ? perBytes : minWriteDeadline;
    }
};

// The traits of a connection of this kind. The one place, with makeConnection(), that decides
// by the kind.
ConnectionTraits connectionTraits(PortKind kind);
