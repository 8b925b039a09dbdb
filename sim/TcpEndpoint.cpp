#include "sim/TcpEndpoint.h"

#include "common/SocketUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool TcpEndpoint::listen(const std::string& address, int port, std::string* error)
{
    sockaddr_in sa{};
    if (!SocketUtil::parseIpv4(address, port, &sa)) {
        if (error)
            *error = "not an IPv4 address: " + address;
        return false;
    }
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        if (error)
            *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (m_host.settings().linkFaults.stallAfter >= 0) {
        // A printer's network module buffers a few kB. Without this, loopback's receive window
        // (hundreds of kB) would take a whole upload while the stalled printer reads nothing,
        // and the tool would never meet the back-pressure the stall is meant to show. Set on
        // the listener so that accepted connections start with it.
        int small = kStalledReceiveBuffer;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd.get(), 8) != 0) {
        if (error)
            *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    m_port = SocketUtil::localPort(fd.get());
    m_address = address;
    m_listen = std::move(fd);
    return true;
}

void TcpEndpoint::addPollFds(std::vector<pollfd>& fds, SimTime now)
{
    if (m_listen)
        fds.push_back({m_listen.get(), POLLIN, 0});
    for (auto& c : m_conns) {
        short ev = 0;
        if (c.link->wantsInput(now))
            ev |= POLLIN;
        if (!c.link->pendingOutput(now).empty())
            ev |= POLLOUT;
        fds.push_back({c.fd.get(), ev, 0});
    }
}

void TcpEndpoint::flush(Conn& c, SimTime now)
{
    const auto& out = c.link->pendingOutput(now);
    if (out.empty())
        return;
    ssize_t n = ::send(c.fd.get(), out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0)
        c.link->wrote(static_cast<size_t>(n), now);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
        close(c, false, std::string("send: ") + std::strerror(errno));
}

void TcpEndpoint::close(Conn& c, bool reset, const std::string& why)
{
    if (c.closing)
        return;
    c.closing = true;
    if (reset) {
        linger l{1, 0}; // close with RST, as a module that drops the line
        ::setsockopt(c.fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    c.link->finish();
    m_host.logEvent("tcp", SimEvent("disconnect").str("peer", c.peer).str("reason", why));
    c.fd.reset();
}

void TcpEndpoint::onReady(const pollfd& ready, SimTime now)
{
    if (m_listen && ready.fd == m_listen.get()) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(m_listen.get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        Conn c;
        c.fd.reset(fd);
        c.peer = SocketUtil::toText(peer);
        c.link = std::make_unique<PrinterLink>(m_host, LinkOptions{"tcp", false, false}, now);
        m_host.logEvent("tcp", SimEvent("connect").str("peer", c.peer));
        m_conns.push_back(std::move(c));
        return;
    }
    for (auto& c : m_conns) {
        if (c.closing || c.fd.get() != ready.fd)
            continue;
        if (ready.revents & (POLLIN | POLLHUP | POLLERR)) {
            uint8_t buf[4096];
            ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                c.link->receive(buf, static_cast<size_t>(n), now);
            } else if (n == 0) {
                close(c, false, "peer closed");
            } else if (errno != EAGAIN && errno != EINTR) {
                close(c, false, std::string("recv: ") + std::strerror(errno));
            }
        }
        // What is due leaves before a hang-up resets the line.
        if (!c.closing)
            flush(c, now);
        if (!c.closing && c.link->hangupRequested())
            close(c, true, "hang-up fault");
        break;
    }
    m_conns.remove_if([](const Conn& c) { return c.closing; });
}

void TcpEndpoint::tick(SimTime now)
{
    for (auto& c : m_conns) {
        if (c.closing)
            continue;
        c.link->pump(now);
        c.link->tick(now);
        if (c.link->hangupRequested())
            close(c, true, "hang-up fault");
        else
            flush(c, now);
    }
    m_conns.remove_if([](const Conn& c) { return c.closing; });
}

std::optional<SimTime> TcpEndpoint::nextDeadline() const
{
    std::optional<SimTime> t;
    for (auto& c : m_conns)
        if (auto d = c.link->nextDeadline(); d && (!t || *d < *t))
            t = d;
    return t;
}

void TcpEndpoint::shutdown()
{
    for (auto& c : m_conns)
        close(c, false, "shutdown");
    m_conns.clear();
    m_listen.reset();
}
