#include "port/DeadlineIo.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;

int remainingMs(steady_clock::time_point deadline)
{
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000 * 60 * 60));
}

DeadlineWrite writeBefore(int fd, const std::uint8_t* data, int length, steady_clock::time_point deadline)
{
    DeadlineWrite result;
    bool pollSaidReady = false;
    while (result.written < length) {
        ssize_t n = ::write(fd, data + result.written, static_cast<size_t>(length - result.written));
        if (n > 0) {
            result.written += static_cast<int>(n);
            pollSaidReady = false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int left = remainingMs(deadline);
            if (left == 0) {
                result.timedOut = true;
                return result;
            }
            // Drivers without poll support (lp) always report ready: when a write still
            // finds no room after poll said ready, pause 10 ms instead of spinning on a
            // printer that refuses the bytes.
            if (pollSaidReady) {
                ::poll(nullptr, 0, std::min(left, 10));
                pollSaidReady = false;
            } else {
                pollfd p{fd, POLLOUT, 0};
                pollSaidReady = ::poll(&p, 1, left) > 0;
            }
            continue;
        }
        result.error = n < 0 ? errno : EIO;
        return result;
    }
    return result;
}
