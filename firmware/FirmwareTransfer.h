#pragma once
// Sends one transfer block to the printer and waits while it writes its flash.
//
// Serial, parallel, USB and file connections take the block in 2048-byte chunks; each chunk
// is handed over only when the one before has left (a serial write drains within its
// deadline: that is what paces a serial port), with a short pause between chunks for the
// others. The network module takes 4096-byte chunks, streamed (at most the connection's
// window ahead of the module's acknowledgements, which the progress follows) and the last one
// drained; a chunk it could not take is offered again a bounded number of times. Then the printer needs floor(2 * L / 20480) ms per step
// to write its flash: 16 steps after a port transfer, 256 after a network transfer.
//
// The transfer is complete only when every byte of the block has left; any failure ends it
// with the user's message and the connection closed, and is never reported as complete.
//
// Threads: run() blocks; it is meant for a worker thread (FirmwareTransferWorker) or the
// CLI's main thread. It touches nothing but the connection, the clock and the sink.
#include "app/CancelToken.h"
#include "app/Clock.h"
#include "app/Progress.h"
#include "app/WeightedProgress.h"
#include "firmware/AreaWriteState.h"
#include "port/PrinterConnection.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct FirmwareTransferOptions {
    using Ms = std::chrono::milliseconds;
    // A chunk that has not left within this time means the printer is not taking data.
    // Unset: the connection's write deadline for the chunk (2048 bytes need 2.1 s at 9600
    // baud); a printer that stops taking bytes ends the chunk at the stall limit long before.
    std::optional<Ms> chunkDeadline;
    // Between chunks on parallel, USB and file connections: lets a printer's input buffer drain.
    Ms portPause{1};
    // How often a network chunk the module did not take is offered again, and the pause
    // before each new try.
    int networkAttempts = 5;
    Ms networkRetryPause{500};
    // Skip the final wait (for a caller that waits itself).
    bool finalWait = true;
    // The whole final wait, when not the area's own (16 or 256 steps of floor(2 * L / 20480)
    // ms: 21 s for a Program Area over the network). For a printer known to write faster, and
    // for tests.
    std::optional<Ms> finalWaitTotal;
    // Where the block's data starts in the image: the state's offsets are image offsets.
    std::uint32_t imageOffset = 0;
    // Told of every change of the area's state (the first just before the first byte
    // leaves), on the thread that runs the transfer.
    std::function<void(const AreaWriteState&)> stateChanged;
};

struct FirmwareTransferOutcome {
    enum class Kind {
        Completed,
        OpenFailed,   // the connection could not be opened
        WriteFailed,  // a chunk could not be written
        NotReady,     // a chunk did not leave within its deadline
        Cancelled,    // stopped by the user before the end
    };
    Kind kind = Kind::WriteFailed;
    // What the printer's area holds now, as far as the transfer knows.
    AreaWriteState state;
    // The text the user is shown, in the active language.
    std::string message;
    // What went wrong, in English, with the system's reason (empty on success).
    std::string detail;
    int error = 0;             // errno of the failure, 0 when none applies
    std::uint32_t sent = 0;    // bytes of the block that left
    std::uint32_t total = 0;   // length of the block
    bool completed() const { return kind == Kind::Completed; }
};

// The window title during a transfer: the title followed by " - %d %%".
std::string firmwareProgressTitle(const std::string& title, std::uint64_t position, std::uint64_t range);

class FirmwareTransfer {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr std::size_t kPortChunk = 2048;
    static constexpr std::size_t kNetworkChunk = 4096;

    // The connection is opened by run() (closed first if open) and closed at its end.
    FirmwareTransfer(PrinterConnection& connection, std::vector<std::uint8_t> block, Clock& clock,
                     ProgressSink& progress, FirmwareTransferOptions options = {});

    // The whole transfer and the final wait. Progress goes from 0 to L + 20480: the bytes the
    // printer took, then the final wait; it reaches the end only when the transfer completed.
    // A cancel during the final wait ends it too: every byte left, but the printer was not
    // given its time, so the outcome is Cancelled with the whole area sent.
    FirmwareTransferOutcome run();
    // Any thread: stop (never reported as complete). A chunk's write that waits for the printer
    // ends within a fraction of a second: run() lends the connection a token of its own when
    // the caller lent none. A token the caller lent to the connection stops it the same way.
    void cancel()
    {
        m_cancel = true;
        m_ownToken.cancel();
    }

    std::uint64_t progressRange() const { return m_block.size() + 20480; }

private:
    FirmwareTransferOutcome portTransfer();
    FirmwareTransferOutcome networkTransfer();
    FirmwareTransferOutcome completed();
    FirmwareTransferOutcome fail(FirmwareTransferOutcome::Kind kind, std::string message, const IoResult& r,
                                 std::string what);
    void report(std::uint64_t position);
    // The state after `sent` bytes of the block left (the first ten are the header).
    void sentUpTo(std::uint32_t sent);
    void setState(const AreaWriteState& state);
    // The final wait in `steps` steps; false when a cancel ended it.
    bool finalWait(std::uint32_t steps, std::uint64_t from, std::uint32_t every, std::uint64_t offset);
    // The option, else the connection's write deadline for n bytes.
    Ms chunkDeadline(std::size_t bytes) const
    {
        return m_options.chunkDeadline ? *m_options.chunkDeadline : m_conn.traits().writeDeadline(bytes);
    }
    bool stopRequested() const
    {
        return m_cancel || (m_conn.cancelToken() && m_conn.cancelToken()->cancelled());
    }

    PrinterConnection& m_conn;
    std::vector<std::uint8_t> m_block;
    Clock& m_clock;
    WeightedProgress m_progress;
    FirmwareTransferOptions m_options;
    std::atomic<bool> m_cancel{false};
    CancelToken m_ownToken;
    std::uint32_t m_sent = 0;
    AreaWriteState m_state;
};

// Runs a FirmwareTransfer on its own thread and hands the outcome to `done` on that thread
// (a dialog marshals it to its GUI thread). The destructor cancels and joins.
class FirmwareTransferWorker {
public:
    FirmwareTransferWorker(std::unique_ptr<FirmwareTransfer> transfer,
                           std::function<void(const FirmwareTransferOutcome&)> done);
    ~FirmwareTransferWorker();
    FirmwareTransferWorker(const FirmwareTransferWorker&) = delete;
    FirmwareTransferWorker& operator=(const FirmwareTransferWorker&) = delete;

    void cancel() { m_transfer->cancel(); }
    // Blocks until the thread has ended.
    void join();
    // The transfer's outcome; read it after join().
    const FirmwareTransferOutcome& outcome() const { return m_outcome; }

private:
    std::unique_ptr<FirmwareTransfer> m_transfer;
    FirmwareTransferOutcome m_outcome;
    std::thread m_thread;
};
