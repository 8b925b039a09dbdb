#include "port/DeadlineIo.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono;

int remainingMs(steady_clock::time_point deadline)
{
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000 * 60 * 60));
}

DeadlineWrite writeBefore(int fd, const std::uint8_t* data, int length, steady_clock::time_point deadline)
{
    // Without a stall limit only the deadline ends the wait.
    return writeWithin(fd, data, length > 0 ? static_cast<std::size_t>(length) : 0, deadline, milliseconds::max());
}

DeadlineWrite writeWithin(int fd, const std::uint8_t* data, std::size_t length, steady_clock::time_point deadline,
                          milliseconds stallLimit)
{
    DeadlineWrite result;
    std::size_t written = 0;
    bool pollSaidReady = false;
    auto lastProgress = steady_clock::now();
    auto stallEnd = [&] {
        return stallLimit == milliseconds::max() ? steady_clock::time_point::max() : lastProgress + stallLimit;
    };
    while (written < length) {
        ssize_t n = ::write(fd, data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            result.lastWrite = static_cast<int>(n);
            lastProgress = steady_clock::now();
            pollSaidReady = false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // ppdev answers a busy printer with a write of 0: the same as "no room yet".
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            const auto stallAt = stallEnd();
            int left = remainingMs(std::min(deadline, stallAt));
            if (left == 0) {
                // Whichever bound came first ended the wait.
                (deadline <= stallAt ? result.timedOut : result.stalled) = true;
                break;
            }
            // Drivers without poll support (lp, ppdev) always report ready: when a write
            // still finds no room after poll said ready, pause 10 ms instead of spinning on a
            // printer that refuses the bytes.
            if (pollSaidReady || n == 0) {
                ::poll(nullptr, 0, std::min(left, 10));
                pollSaidReady = false;
            } else {
                pollfd p{fd, POLLOUT, 0};
                pollSaidReady = ::poll(&p, 1, left) > 0;
            }
            continue;
        }
        result.error = errno;
        break;
    }
    result.written = static_cast<int>(std::min<std::size_t>(written, static_cast<std::size_t>(INT32_MAX)));
    return result;
}

void awaitWritable(int fd, DeadlineWrite& w, steady_clock::time_point deadline, milliseconds stallLimit)
{
    if (w.error != 0 || w.timedOut || w.stalled || w.written == 0)
        return;
    const auto stallAt =
        stallLimit == milliseconds::max() ? steady_clock::time_point::max() : steady_clock::now() + stallLimit;
    for (;;) {
        const int left = remainingMs(std::min(deadline, stallAt));
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        // A printer that restarts as soon as it has the bytes (after the logo settings frame)
        // is gone by now, but its transfer completed: usblp reports that with POLLOUT.
        if (ready > 0 && (p.revents & POLLOUT))
            return;
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            w.error = ENODEV;
            break;
        }
        if (ready < 0) {
            w.error = errno;
            break;
        }
        if (remainingMs(std::min(deadline, stallAt)) == 0) {
            (deadline <= stallAt ? w.timedOut : w.stalled) = true;
            break;
        }
    }
    w.written = std::max(0, w.written - w.lastWrite);
}

int drainSerialOutput(int fd, steady_clock::time_point deadline)
{
    for (;;) {
        int queued = 0;
        // Not a tty (or a driver without the count): nothing we can wait for.
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return 0;
        int left = remainingMs(deadline);
        if (left == 0)
            return queued;
        ::poll(nullptr, 0, std::min(left, 2));
    }
}
