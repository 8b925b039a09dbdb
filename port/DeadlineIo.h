#pragma once
// Writing to a non-blocking device fd against a deadline: the one loop behind CPorts::Write
// and ParPortCtl::WritePort.
#include <chrono>
#include <cstdint>

// Milliseconds left until deadline, 0 when it has passed (capped at one hour for poll()).
int remainingMs(std::chrono::steady_clock::time_point deadline);

struct DeadlineWrite {
    int written = 0;       // bytes the device took
    int error = 0;         // errno of a failed write (EIO for a zero-byte write), 0 if none
    bool timedOut = false; // the deadline passed with bytes left
};

// Writes length bytes to fd, waiting for room with poll() until deadline. Stops at the first
// write error. Any thread may call it for an fd it owns.
DeadlineWrite writeBefore(int fd, const std::uint8_t* data, int length,
                          std::chrono::steady_clock::time_point deadline);
