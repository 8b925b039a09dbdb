#include "port/EthernetLink.h"

#include "port/DeadlineIo.h"

#include "common/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono;

// After the first bytes of an answer, more that follow within this gap belong to it: the
// printer answers a burst of queries back to back.
constexpr milliseconds kReceiveGap{50};

struct EthState {
    std::mutex mutex;
    MessageTarget* owner = nullptr;
    std::string name;
    std::string host;
    int port = 0;
    bool initialised = false;
    EthTimeouts timeouts;
    UniqueFd socket;
};

EthState& state()
{
    static EthState s;
    return s;
}

// A connected non-blocking socket, or an invalid fd.
UniqueFd connectWithin(const std::string& host, int port, milliseconds timeout)
{
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
        if (!fd)
            continue;
        int rc = ::connect(fd.get(), ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno != EINPROGRESS)
            continue;
        if (rc != 0) {
            pollfd p{fd.get(), POLLOUT, 0};
            int n;
            do {
                n = ::poll(&p, 1, remainingMs(deadline));
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                continue;
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
                continue;
        }
        // Command frames are small and the printer answers each: do not hold them back.
        int one = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        result = std::move(fd);
    }
    ::freeaddrinfo(found);
    return result;
}

} // namespace

void EthInit(MessageTarget* owner, const char* name, const char* ipAddress, int tcpPort)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.socket.reset();
    s.owner = owner;
    s.name = name ? name : "";
    s.host = ipAddress ? ipAddress : "";
    s.port = tcpPort;
    s.initialised = !s.host.empty() && tcpPort > 0 && tcpPort <= 65535;
}

int EthOpen()
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.socket.reset();
    if (!s.initialised)
        return 0;
    s.socket = connectWithin(s.host, s.port, s.timeouts.connect);
    return s.socket.valid() ? 1 : 0;
}

int EthSend(const std::uint8_t* data, int length)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.socket || length < 0 || (length > 0 && !data))
        return -1;
    auto deadline = steady_clock::now() + s.timeouts.send;
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(s.socket.get(), data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{s.socket.get(), POLLOUT, 0};
            int left = remainingMs(deadline);
            if (left == 0 || ::poll(&p, 1, left) <= 0 || (p.revents & (POLLERR | POLLHUP)))
                return -1;
            continue;
        }
        return -1;
    }
    return sent;
}

int EthRecv(std::uint8_t* buffer, int capacity)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.socket || !buffer || capacity <= 0)
        return 0;
    int got = 0;
    auto deadline = steady_clock::now() + s.timeouts.receive;
    while (got < capacity) {
        int wait = got == 0 ? remainingMs(deadline) : static_cast<int>(kReceiveGap.count());
        pollfd p{s.socket.get(), POLLIN, 0};
        int n = ::poll(&p, 1, wait);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ssize_t r = ::recv(s.socket.get(), buffer + got, static_cast<size_t>(capacity - got), 0);
        if (r < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (r <= 0)
            break; // closed by the printer, or broken: what came so far is the answer
        got += static_cast<int>(r);
    }
    return got;
}

void EthClose()
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.socket.reset();
}

void EthSetTimeouts(const EthTimeouts& timeouts)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.timeouts = timeouts;
}

EthTimeouts EthGetTimeouts()
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.timeouts;
}
