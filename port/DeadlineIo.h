#pragma once
// Writing to a non-blocking device fd against a deadline: the one loop behind CPorts::Write
// and ParPortCtl::WritePort.
#include <chrono>
#include <cstddef>
#include <cstdint>

class CancelToken;

// Milliseconds left until deadline, 0 when it has passed (capped at one hour for poll()).
int remainingMs(std::chrono::steady_clock::time_point deadline);

struct DeadlineWrite {
    int written = 0;       // bytes the device took
    int error = 0;         // errno of a failed write, 0 if none
    bool timedOut = false; // the deadline passed with bytes left
    bool stalled = false;  // (writeWithin) the device took nothing for the stall limit
    bool cancelled = false; // the cancel token ended the wait with bytes left
    int lastWrite = 0;     // bytes the final write() took
};

// Writes length bytes to fd, waiting for room with poll() until deadline. Stops at the first
// write error. A write that takes nothing (a ppdev port whose printer is busy) is "not yet",
// not an error. Any thread may call it for an fd it owns.
DeadlineWrite writeBefore(int fd, const std::uint8_t* data, int length,
                          std::chrono::steady_clock::time_point deadline);

// writeBefore, and also gives up (stalled) when the device took no byte for stallLimit: a
// printer that is out of paper, open or offline is reported in seconds, not after a
// per-byte deadline of minutes. A cancel token (may be null) ends every wait for room at once
// (cancelled); a token already cancelled lets no byte be written.
DeadlineWrite writeWithin(int fd, const std::uint8_t* data, std::size_t length,
                          std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds stallLimit,
                          const CancelToken* cancel = nullptr);

// poll() on fd for `events` and on the token's fd, up to timeoutMs (-1: no limit). Returns
// what poll returns for fd (revents in *revents), or 0 with *cancelled set when the token
// ended the wait. EINTR is returned as -1 with errno EINTR, as poll does.
int pollUnlessCancelled(int fd, short events, int timeoutMs, const CancelToken* cancel, short* revents,
                        bool* cancelled);

// A USB printer node (usblp) takes a write on a non-blocking descriptor as soon as it has handed
// the bytes to the USB core, and closing the node cancels a transfer still in flight: the bytes
// have left only once the node is writable again. After a write that succeeded, waits for that
// until the deadline, or until stallLimit has passed. When it does not come, the bytes of the
// last write() are taken back from w.written (they may never arrive) and w says why: timedOut,
// stalled, cancelled (the token), or error ENODEV when the node reports that the printer is
// gone without having completed the transfer.
void awaitWritable(int fd, DeadlineWrite& w, std::chrono::steady_clock::time_point deadline,
                   std::chrono::milliseconds stallLimit, const CancelToken* cancel = nullptr);

// Waits until a tty's output queue is empty (the bytes left the UART), the deadline passes or
// the token is cancelled (*cancelled set when given). Returns the bytes still queued then (0:
// drained, or not a tty that can tell).
int drainSerialOutput(int fd, std::chrono::steady_clock::time_point deadline, const CancelToken* cancel = nullptr,
                      bool* cancelled = nullptr);
