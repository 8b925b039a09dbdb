#pragma once
// Writing to a non-blocking device fd against a deadline: the one loop behind CPorts::Write
// and ParPortCtl::WritePort.
#include <chrono>
#include <cstddef>
#include <cstdint>

// Milliseconds left until deadline, 0 when it has passed (capped at one hour for poll()).
int remainingMs(std::chrono::steady_clock::time_point deadline);

struct DeadlineWrite {
    int written = 0;       // bytes the device took
    int error = 0;         // errno of a failed write, 0 if none
    bool timedOut = false; // the deadline passed with bytes left
    bool stalled = false;  // (writeWithin) the device took nothing for the stall limit
};

// Writes length bytes to fd, waiting for room with poll() until deadline. Stops at the first
// write error. A write that takes nothing (a ppdev port whose printer is busy) is "not yet",
// not an error. Any thread may call it for an fd it owns.
DeadlineWrite writeBefore(int fd, const std::uint8_t* data, int length,
                          std::chrono::steady_clock::time_point deadline);

// writeBefore, and also gives up (stalled) when the device took no byte for stallLimit: a
// printer that is out of paper, open or offline is reported in seconds, not after a
// per-byte deadline of minutes.
DeadlineWrite writeWithin(int fd, const std::uint8_t* data, std::size_t length,
                          std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds stallLimit);

// Waits until a tty's output queue is empty (the bytes left the UART) or the deadline
// passes. Returns the bytes still queued then (0: drained, or not a tty that can tell).
int drainSerialOutput(int fd, std::chrono::steady_clock::time_point deadline);
