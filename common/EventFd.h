#pragma once
// Waking a thread that polls an eventfd: one count added, retried when a signal interrupts.
#include <cerrno>
#include <cstdint>
#include <unistd.h>

inline void signalEventFd(int fd)
{
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}
