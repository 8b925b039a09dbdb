#include "port/EthernetLink.h"

#include "port/DeadlineIo.h"

#include "app/CancelToken.h"

#include "common/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <linux/sockios.h>
#include <unistd.h>

namespace {

using namespace std::chrono;

// After the first bytes of an answer, more that follow within this gap belong to it: the
// printer answers a burst of queries back to back.
constexpr milliseconds kReceiveGap{50};

// A connected non-blocking socket, or an invalid fd with the reason in *error.
UniqueFd connectWithin(const std::string& host, int port, milliseconds timeout, int* error,
                       const CancelToken* cancel)
{
    *error = EINVAL;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        return UniqueFd();
    auto deadline = steady_clock::now() + timeout;
    UniqueFd result;
    for (addrinfo* ai = found; ai && !result.valid(); ai = ai->ai_next) {
        UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol));
        if (!fd) {
            *error = errno;
            continue;
        }
        int rc = ::connect(fd.get(), ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno != EINPROGRESS) {
            *error = errno;
            continue;
        }
        if (rc != 0) {
            short revents = 0;
            bool cancelled = false;
            int n;
            do {
                n = pollUnlessCancelled(fd.get(), POLLOUT, remainingMs(deadline), cancel, &revents, &cancelled);
            } while (n < 0 && errno == EINTR);
            if (cancelled) {
                *error = ECANCELED;
                break;
            }
            if (n <= 0) {
                *error = n == 0 ? ETIMEDOUT : errno;
                continue;
            }
            int soError = 0;
            socklen_t len = sizeof soError;
            if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
                *error = soError != 0 ? soError : errno;
                continue;
            }
        }
        // Command frames are small and the printer answers each: do not hold them back.
        int one = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        result = std::move(fd);
        *error = 0;
    }
    ::freeaddrinfo(found);
    return result;
}

} // namespace

using namespace std::chrono;

EthernetLink& EthernetLink::defaultLink()
{
    static EthernetLink link;
    return link;
}

void EthernetLink::init(const std::string& host, int tcpPort)
{
    std::lock_guard lock(m_mutex);
    m_socket.reset();
    m_host = host;
    m_port = tcpPort;
    m_initialised = !m_host.empty() && tcpPort > 0 && tcpPort <= 65535;
}

std::string EthernetLink::host() const
{
    std::lock_guard lock(m_mutex);
    return m_host;
}

int EthernetLink::tcpPort() const
{
    std::lock_guard lock(m_mutex);
    return m_port;
}

bool EthernetLink::initialised() const
{
    std::lock_guard lock(m_mutex);
    return m_initialised;
}

bool EthernetLink::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_socket.valid();
}

bool EthernetLink::open(const CancelToken* cancel)
{
    std::lock_guard lock(m_mutex);
    m_socket.reset();
    if (!m_initialised) {
        m_lastError = EINVAL;
        return false;
    }
    m_socket = connectWithin(m_host, m_port, m_timeouts.connect, &m_lastError, cancel);
    return m_socket.valid();
}

int EthernetLink::send(const std::uint8_t* data, int length)
{
    std::lock_guard lock(m_mutex);
    if (!m_socket || length < 0 || (length > 0 && !data))
        return -1;
    auto deadline = steady_clock::now() + m_timeouts.send;
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(m_socket.get(), data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_socket.get(), POLLOUT, 0};
            int left = remainingMs(deadline);
            if (left == 0 || ::poll(&p, 1, left) <= 0 || (p.revents & (POLLERR | POLLHUP)))
                return -1;
            continue;
        }
        return -1;
    }
    return sent;
}

int EthernetLink::recv(std::uint8_t* buffer, int capacity)
{
    std::lock_guard lock(m_mutex);
    if (!m_socket || !buffer || capacity <= 0)
        return 0;
    int got = 0;
    auto deadline = steady_clock::now() + m_timeouts.receive;
    while (got < capacity) {
        int wait = got == 0 ? remainingMs(deadline) : static_cast<int>(kReceiveGap.count());
        pollfd p{m_socket.get(), POLLIN, 0};
        int n = ::poll(&p, 1, wait);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ssize_t r = ::recv(m_socket.get(), buffer + got, static_cast<size_t>(capacity - got), 0);
        if (r < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (r <= 0)
            break; // closed by the printer, or broken: what came so far is the answer
        got += static_cast<int>(r);
    }
    return got;
}

void EthernetLink::close()
{
    std::lock_guard lock(m_mutex);
    m_socket.reset();
}

void EthernetLink::setTimeouts(const EthTimeouts& timeouts)
{
    std::lock_guard lock(m_mutex);
    m_timeouts = timeouts;
}

EthTimeouts EthernetLink::timeouts() const
{
    std::lock_guard lock(m_mutex);
    return m_timeouts;
}

int EthernetLink::lastError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

EthTransfer EthernetLink::sendWithin(const std::uint8_t* data, std::size_t length, steady_clock::time_point deadline,
                          milliseconds stallLimit, const CancelToken* cancel)
{
    std::lock_guard lock(m_mutex);
    EthTransfer t;
    if (!m_socket) {
        t.error = ENOTCONN;
        return t;
    }
    if (cancel && cancel->cancelled() && length > 0) {
        t.cancelled = true;
        return t;
    }
    std::size_t sent = 0;
    auto lastProgress = steady_clock::now();
    while (sent < length) {
        ssize_t n = ::send(m_socket.get(), data + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            lastProgress = steady_clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto stallAt = lastProgress + stallLimit;
            int left = remainingMs(std::min(deadline, stallAt));
            if (left == 0) {
                // Whichever bound came first ended the wait.
                (deadline <= stallAt ? t.timedOut : t.stalled) = true;
                break;
            }
            short revents = 0;
            bool cancelled = false;
            const int ready = pollUnlessCancelled(m_socket.get(), POLLOUT, left, cancel, &revents, &cancelled);
            if (cancelled) {
                t.cancelled = true;
                break;
            }
            if (ready > 0 && (revents & (POLLERR | POLLHUP)) && !(revents & POLLOUT)) {
                int soError = 0;
                socklen_t len = sizeof soError;
                ::getsockopt(m_socket.get(), SOL_SOCKET, SO_ERROR, &soError, &len);
                t.error = soError != 0 ? soError : EPIPE;
                break;
            }
            continue;
        }
        t.error = n < 0 ? errno : EPIPE;
        break;
    }
    t.sent = static_cast<int>(sent);
    return t;
}

EthAck EthernetLink::drain(std::size_t inFlight, steady_clock::time_point deadline, milliseconds stallLimit,
                const CancelToken* cancel)
{
    std::lock_guard lock(m_mutex);
    EthAck ack;
    if (!m_socket) {
        ack.error = ENOTCONN;
        return ack;
    }
    constexpr microseconds kFirstPause{20};
    constexpr microseconds kLongestPause{2000};
    microseconds pause = kFirstPause;
    auto lastProgress = steady_clock::now();
    int previous = -1;
    for (;;) {
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(m_socket.get(), SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError != 0) {
            ack.error = soError;
            return ack;
        }
        int queued = 0;
        if (::ioctl(m_socket.get(), SIOCOUTQ, &queued) != 0) {
            ack.error = errno;
            return ack;
        }
        ack.unacked = std::max(queued, 0);
        if (static_cast<std::size_t>(ack.unacked) <= inFlight)
            return ack;
        // A printer that reset closes its side: the unacknowledged bytes will never be.
        pollfd p{m_socket.get(), POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP))) {
            ack.error = ECONNRESET;
            return ack;
        }
        const auto now = steady_clock::now();
        if (previous < 0 || queued < previous) {
            lastProgress = now;
            pause = kFirstPause;
        }
        previous = queued;
        const auto stallAt = lastProgress + stallLimit;
        const auto until = std::min(deadline, stallAt);
        if (now >= until) {
            ack.stalled = stallAt <= deadline;
            return ack;
        }
        // SIOCOUTQ has no readiness to wait for; the longest pause (2 ms) bounds how late a
        // cancel is seen.
        if (cancel && cancel->cancelled()) {
            ack.cancelled = true;
            return ack;
        }
        std::this_thread::sleep_for(std::min<steady_clock::duration>(pause, until - now));
        pause = std::min(pause * 2, kLongestPause);
    }
}

int EthernetLink::recvFor(std::uint8_t* buffer, int capacity, milliseconds wait, int* error, const CancelToken* cancel)
{
    std::lock_guard lock(m_mutex);
    *error = 0;
    if (!m_socket) {
        *error = ENOTCONN;
        return -1;
    }
    if (!buffer || capacity <= 0)
        return 0;
    auto deadline = steady_clock::now() + wait;
    for (;;) {
        ssize_t r = ::recv(m_socket.get(), buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
        if (r > 0)
            return static_cast<int>(r);
        if (r == 0)
            return -1; // the printer closed its side
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            *error = errno;
            return -1;
        }
        int left = remainingMs(deadline);
        if (left == 0)
            return 0;
        short revents = 0;
        bool cancelled = false;
        pollUnlessCancelled(m_socket.get(), POLLIN, left, cancel, &revents, &cancelled);
        if (cancelled) {
            *error = ECANCELED;
            return 0;
        }
    }
}

void EthInit(MessageTarget*, const char*, const char* ipAddress, int tcpPort)
{
    EthernetLink::defaultLink().init(ipAddress ? ipAddress : "", tcpPort);
}

int EthOpen(const CancelToken* cancel) { return EthernetLink::defaultLink().open(cancel) ? 1 : 0; }

int EthSend(const std::uint8_t* data, int length) { return EthernetLink::defaultLink().send(data, length); }

int EthRecv(std::uint8_t* buffer, int capacity) { return EthernetLink::defaultLink().recv(buffer, capacity); }

void EthClose() { EthernetLink::defaultLink().close(); }

void EthSetTimeouts(const EthTimeouts& timeouts) { EthernetLink::defaultLink().setTimeouts(timeouts); }

EthTimeouts EthGetTimeouts() { return EthernetLink::defaultLink().timeouts(); }

int EthLastError() { return EthernetLink::defaultLink().lastError(); }

EthTransfer EthSendWithin(const std::uint8_t* data, std::size_t length, std::chrono::steady_clock::time_point deadline,
                          std::chrono::milliseconds stallLimit, const CancelToken* cancel)
{
    return EthernetLink::defaultLink().sendWithin(data, length, deadline, stallLimit, cancel);
}

EthAck EthDrain(std::size_t inFlight, std::chrono::steady_clock::time_point deadline,
                std::chrono::milliseconds stallLimit, const CancelToken* cancel)
{
    return EthernetLink::defaultLink().drain(inFlight, deadline, stallLimit, cancel);
}

int EthRecvFor(std::uint8_t* buffer, int capacity, std::chrono::milliseconds wait, int* error,
               const CancelToken* cancel)
{
    return EthernetLink::defaultLink().recvFor(buffer, capacity, wait, error, cancel);
}
