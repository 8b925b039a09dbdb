#include "port/DeadlineIo.h"

#include "app/CancelToken.h"

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

int pollUnlessCancelled(int fd, short events, int timeoutMs, const CancelToken* cancel, short* revents,
                        bool* cancelled)
{
    *revents = 0;
    *cancelled = false;
    if (cancel && cancel->cancelled()) {
        *cancelled = true;
        return 0;
    }
    pollfd p[2] = {{fd, events, 0}, {cancel ? cancel->fd() : -1, POLLIN, 0}};
    // A token without its eventfd is looked at every kTokenLookMs instead, until the timeout.
    constexpr int kTokenLookMs = 20;
    const bool blind = cancel && cancel->fd() < 0;
    const auto until = timeoutMs < 0 ? steady_clock::time_point::max() : steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        const int left = timeoutMs < 0 ? -1 : remainingMs(until);
        const int wait = blind && (left < 0 || left > kTokenLookMs) ? kTokenLookMs : left;
        const int n = ::poll(p, cancel && !blind ? 2 : 1, wait);
        if (cancel && cancel->cancelled()) {
            *cancelled = true;
            return 0;
        }
        if (n < 0)
            return n;
        if (n > 0 && p[0].revents != 0) {
            *revents = p[0].revents;
            return 1;
        }
        if (!blind || wait == left)
            return 0;
    }
}

DeadlineWrite writeBefore(int fd, const std::uint8_t* data, int length, steady_clock::time_point deadline)
{
    // Without a stall limit only the deadline ends the wait.
    return writeWithin(fd, data, length > 0 ? static_cast<std::size_t>(length) : 0, deadline, milliseconds::max());
}

DeadlineWrite writeWithin(int fd, const std::uint8_t* data, std::size_t length, steady_clock::time_point deadline,
                          milliseconds stallLimit, const CancelToken* cancel)
{
    DeadlineWrite result;
    if (cancel && cancel->cancelled() && length > 0) {
        result.cancelled = true;
        return result;
    }
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
            // printer that refuses the bytes. The pause still listens to the token.
            short revents = 0;
            bool cancelled = false;
            if (pollSaidReady || n == 0) {
                pollUnlessCancelled(-1, 0, std::min(left, 10), cancel, &revents, &cancelled);
                pollSaidReady = false;
            } else {
                pollSaidReady = pollUnlessCancelled(fd, POLLOUT, left, cancel, &revents, &cancelled) > 0;
            }
            if (cancelled) {
                result.cancelled = true;
                break;
            }
            continue;
        }
        result.error = errno;
        break;
    }
    result.written = static_cast<int>(std::min<std::size_t>(written, static_cast<std::size_t>(INT32_MAX)));
    return result;
}

void awaitWritable(int fd, DeadlineWrite& w, steady_clock::time_point deadline, milliseconds stallLimit,
                   const CancelToken* cancel)
{
    if (w.error != 0 || w.timedOut || w.stalled || w.cancelled || w.written == 0)
        return;
    const auto stallAt =
        stallLimit == milliseconds::max() ? steady_clock::time_point::max() : steady_clock::now() + stallLimit;
    for (;;) {
        const int left = remainingMs(std::min(deadline, stallAt));
        short revents = 0;
        bool cancelled = false;
        const int ready = pollUnlessCancelled(fd, POLLOUT, left, cancel, &revents, &cancelled);
        if (cancelled) {
            w.cancelled = true;
            break;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        // A printer that restarts as soon as it has the bytes (after the logo settings frame)
        // is gone by now, but its transfer completed: usblp reports that with POLLOUT.
        if (ready > 0 && (revents & POLLOUT))
            return;
        if (ready > 0 && (revents & (POLLERR | POLLHUP | POLLNVAL))) {
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

int drainSerialOutput(int fd, steady_clock::time_point deadline, const CancelToken* cancel, bool* cancelled)
{
    if (cancelled)
        *cancelled = false;
    for (;;) {
        int queued = 0;
        // Not a tty (or a driver without the count): nothing we can wait for.
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return 0;
        if (cancel && cancel->cancelled()) {
            if (cancelled)
                *cancelled = true;
            return queued;
        }
        int left = remainingMs(deadline);
        if (left == 0)
            return queued;
        // The tty signals no readiness for an empty queue: look every 2 ms (and at the token).
        ::poll(nullptr, 0, std::min(left, 2));
    }
}
