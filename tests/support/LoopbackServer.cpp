#include "LoopbackServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

using namespace std::chrono;

namespace {

int msLeft(steady_clock::time_point deadline)
{
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

} // namespace

LoopbackServer::LoopbackServer(int backlog)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return;
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd.get(), backlog) != 0)
        return;
    socklen_t len = sizeof addr;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return;
    m_port = ntohs(addr.sin_port);
    m_listener = std::move(fd);
}

UniqueFd LoopbackServer::accept(milliseconds timeout)
{
    if (!m_listener)
        return UniqueFd();
    pollfd p{m_listener.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return UniqueFd();
    return UniqueFd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

std::string LoopbackServer::readBytes(int fd, std::size_t count, milliseconds timeout)
{
    std::string out;
    auto deadline = steady_clock::now() + timeout;
    char buffer[4096];
    while (out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        int left = msLeft(deadline);
        if (left == 0 || ::poll(&p, 1, left) <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - out.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

std::string LoopbackServer::readUntilClosed(int fd, milliseconds timeout)
{
    std::string out;
    auto deadline = steady_clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int left = msLeft(deadline);
        if (left == 0 || ::poll(&p, 1, left) <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

bool LoopbackServer::sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}
