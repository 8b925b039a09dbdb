#include "sim/UdpEndpoint.h"

#include "common/SocketUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

bool UdpEndpoint::add(const std::string& address, int port, size_t index, std::string* error)
{
    sockaddr_in sa{};
    if (!SocketUtil::parseIpv4(address, port, &sa)) {
        if (error)
            *error = "not an IPv4 address: " + address;
        return false;
    }
    if (!SocketUtil::isLoopback(sa)) {
        if (error)
            *error = "UDP printers live on loopback addresses only (127.x.y.z), not " + address;
        return false;
    }
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        if (error)
            *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    // The tool's own receiving socket may share the port on another loopback address.
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (error)
            *error = "cannot bind UDP " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    PrinterState& st = m_host.state();
    while (st.network.size() <= index) {
        NetworkRecord r = st.network.empty() ? NetworkRecord{} : st.network.front();
        r.mac[5] = static_cast<uint8_t>(st.network.size() + 1);
        st.network.push_back(r);
        st.networkDirty = true;
    }
    Socket s{std::move(fd), address, 0, index, NetworkResponder(st.network[index])};
    s.port = SocketUtil::localPort(s.fd.get());
    m_sockets.push_back(std::move(s));
    return true;
}

std::string UdpEndpoint::boundText() const
{
    std::string out;
    for (auto& s : m_sockets) {
        if (!out.empty())
            out += ',';
        out += s.address + ":" + std::to_string(s.port);
    }
    return out;
}

void UdpEndpoint::addPollFds(std::vector<pollfd>& fds, SimTime)
{
    for (auto& s : m_sockets)
        fds.push_back({s.fd.get(), POLLIN, 0});
}

void UdpEndpoint::onReady(const pollfd& ready, SimTime)
{
    for (auto& s : m_sockets) {
        if (s.fd.get() != ready.fd)
            continue;
        uint8_t buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(s.fd.get(), buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        const std::string via = "udp@" + s.address;
        std::vector<uint8_t> datagram(buf, buf + std::min<size_t>(static_cast<size_t>(n), sizeof buf));
        if (static_cast<size_t>(n) > sizeof buf)
            datagram.push_back(0); // longer than any record: let the responder refuse it
        SimEvent e("network");
        e.str("from", SocketUtil::toText(from)).num("length", n);
        if (!SocketUtil::isLoopback(from)) {
            e.str("result", "ignored: requester is not on loopback");
            m_host.logEvent(via, e);
            return;
        }
        auto outcome = s.responder.handle(datagram);
        e.str("result", outcome.what);
        if (datagram.size() >= 3)
            e.num("command", datagram[2]);
        if (outcome.applied) {
            const NetworkRecord& r = s.responder.record();
            m_host.state().network[s.index] = r;
            m_host.state().networkDirty = true;
            m_host.stateChanged();
            e.str("ip", r.ipText()).str("mask", r.maskText()).str("gateway", r.gatewayText())
                .str("mac", r.macText()).flag("dhcp", r.dhcp).num("port", r.tcpPort);
        }
        if (outcome.reply) {
            sockaddr_in to = from;
            to.sin_port = htons(static_cast<uint16_t>(m_replyPort));
            ssize_t sent = ::sendto(s.fd.get(), outcome.reply->data(), outcome.reply->size(), 0,
                                    reinterpret_cast<sockaddr*>(&to), sizeof to);
            e.str("replyTo", SocketUtil::toText(to));
            if (sent < 0)
                e.str("error", std::string("sendto: ") + std::strerror(errno));
        }
        m_host.logEvent(via, e);
        return;
    }
}
