#include "sim/UdpEndpoint.h"

#include "common/SocketUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

constexpr const char* kLoopbackBroadcast = "127.255.255.255";

UniqueFd udpSocket(const sockaddr_in& sa, std::string* error)
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        *error = std::string("socket: ") + std::strerror(errno);
        return fd;
    }
    int one = 1;
    // The tool's receiving socket, and the other modules' broadcast sockets, share the port.
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        *error = "cannot bind UDP " + SocketUtil::toText(sa) + ": " + std::strerror(errno);
        fd.reset();
    }
    return fd;
}

std::string dottedOf(const std::array<uint8_t, 4>& a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

// Gives the interface that holds `from` the address `to` and its mask, as the module's own
// network stack does when it restarts with new settings.
bool moveInterfaceAddress(const std::array<uint8_t, 4>& from, const NetworkRecord& to, std::string* error)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        *error = std::string("getifaddrs: ") + std::strerror(errno);
        return false;
    }
    std::string name;
    const std::string fromText = dottedOf(from);
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        char buf[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, buf, sizeof buf);
        if (fromText == buf) {
            name = a->ifa_name;
            break;
        }
    }
    ::freeifaddrs(list);
    if (name.empty() || name.size() >= IFNAMSIZ) {
        *error = "no interface holds " + fromText;
        return false;
    }
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq req{};
    std::memcpy(req.ifr_name, name.c_str(), name.size());
    auto set = [&](unsigned long op, const std::array<uint8_t, 4>& value, const char* what) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        std::memcpy(&sa.sin_addr, value.data(), 4);
        std::memcpy(&req.ifr_addr, &sa, sizeof sa);
        if (::ioctl(fd.get(), op, &req) != 0) {
            *error = std::string(what) + " " + name + ": " + std::strerror(errno);
            return false;
        }
        return true;
    };
    return fd && set(SIOCSIFADDR, to.ip, "SIOCSIFADDR") && set(SIOCSIFNETMASK, to.mask, "SIOCSIFNETMASK");
}

} // namespace

bool UdpEndpoint::inPrivateNetworkNamespace(std::string* why)
{
    struct stat self{}, other{};
    if (::stat("/proc/self/ns/net", &self) != 0) {
        *why = std::string("cannot see this process's network namespace: ") + std::strerror(errno);
        return false;
    }
    auto same = [&](const struct stat& s) { return s.st_ino == self.st_ino && s.st_dev == self.st_dev; };
    if (::stat("/proc/1/ns/net", &other) == 0 && same(other)) {
        *why = "this is the host's network namespace; a LAN module runs only in a namespace made for it";
        return false;
    }
    // Where PID 1's namespace cannot be seen (a container), a namespace made with
    // "ip netns add" is one made for the purpose: it is listed under /run/netns.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", ec))
        if (::stat(entry.path().c_str(), &other) == 0 && same(other))
            return true;
    *why = "not inside a network namespace made with \"ip netns add\"; a LAN module answers anyone, so it "
           "runs only in a namespace made for it";
    return false;
}

bool UdpEndpoint::bind(Module& m, const std::string& address, int port, std::string* error)
{
    sockaddr_in sa{};
    if (!SocketUtil::parseIpv4(address, port, &sa)) {
        *error = "not an IPv4 address: " + address;
        return false;
    }
    if (m_options.lan) {
        // A broadcast to 255.255.255.255 reaches only a socket on the wildcard address.
        sockaddr_in any{};
        SocketUtil::parseIpv4("0.0.0.0", port, &any);
        UniqueFd fd = udpSocket(any, error);
        if (!fd)
            return false;
        m.fd = std::move(fd);
        m.port = SocketUtil::localPort(m.fd.get());
        m.address = address;
        return true;
    }
    if (!SocketUtil::isLoopback(sa)) {
        *error = "UDP printers live on loopback addresses only (127.x.y.z), not " + address;
        return false;
    }
    UniqueFd fd = udpSocket(sa, error);
    if (!fd)
        return false;
    const int bound = SocketUtil::localPort(fd.get());
    sockaddr_in bc{};
    SocketUtil::parseIpv4(kLoopbackBroadcast, bound, &bc);
    UniqueFd broadcast = udpSocket(bc, error);
    if (!broadcast)
        return false;
    m.fd = std::move(fd);
    m.broadcast = std::move(broadcast);
    m.port = bound;
    m.address = address;
    return true;
}

bool UdpEndpoint::add(const std::string& address, int port, size_t index, std::string* error)
{
    std::string why;
    if (m_options.lan && !inPrivateNetworkNamespace(&why)) {
        if (error)
            *error = why;
        return false;
    }
    PrinterState& st = m_host.state();
    while (st.network.size() <= index) {
        NetworkRecord r = st.network.empty() ? NetworkRecord{} : st.network.front();
        r.mac[5] = static_cast<uint8_t>(st.network.size() + 1);
        st.network.push_back(r);
        st.networkDirty = true;
    }
    Module m{UniqueFd(), UniqueFd(), address, 0, index, NetworkResponder(st.network[index]), std::nullopt, {}};
    if (!bind(m, address, port, &why)) {
        if (error)
            *error = why;
        return false;
    }
    m_modules.push_back(std::move(m));
    return true;
}

std::string UdpEndpoint::boundText() const
{
    std::string out;
    for (auto& m : m_modules) {
        if (!out.empty())
            out += ',';
        out += m.address + ":" + std::to_string(m.port);
    }
    return out;
}

void UdpEndpoint::addPollFds(std::vector<pollfd>& fds, SimTime)
{
    for (auto& m : m_modules) {
        if (m.fd)
            fds.push_back({m.fd.get(), POLLIN, 0});
        if (m.broadcast)
            fds.push_back({m.broadcast.get(), POLLIN, 0});
    }
}

void UdpEndpoint::onReady(const pollfd& ready, SimTime now)
{
    for (auto& m : m_modules) {
        if ((m.fd && m.fd.get() == ready.fd) || (m.broadcast && m.broadcast.get() == ready.fd)) {
            serve(m, ready.fd, now);
            return;
        }
    }
}

void UdpEndpoint::serve(Module& m, int fd, SimTime now)
{
    uint8_t buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return;
    const std::string via = "udp@" + m.address;
    std::vector<uint8_t> datagram(buf, buf + std::min<size_t>(static_cast<size_t>(n), sizeof buf));
    if (static_cast<size_t>(n) > sizeof buf)
        datagram.push_back(0); // longer than any record: let the responder refuse it
    SimEvent e("network");
    e.str("from", SocketUtil::toText(from)).num("length", n);
    if (m.broadcast && fd == m.broadcast.get())
        e.flag("broadcast", true);
    if (!m_options.lan && !SocketUtil::isLoopback(from)) {
        e.str("result", "ignored: requester is not on loopback");
        m_host.logEvent(via, e);
        return;
    }
    auto outcome = m.responder.handle(datagram);
    e.str("result", outcome.what);
    if (datagram.size() >= 3)
        e.num("command", datagram[2]);
    const uint8_t command = datagram.size() >= 3 ? datagram[2] : 0xFF;
    if (outcome.applied) {
        const NetworkRecord& r = m.responder.record();
        m.before = m_host.state().network[m.index];
        m_host.state().network[m.index] = r;
        m_host.state().networkDirty = true;
        m_host.stateChanged();
        e.str("ip", r.ipText()).str("mask", r.maskText()).str("gateway", r.gatewayText())
            .str("mac", r.macText()).num("dhcp", r.dhcp).num("port", r.tcpPort).num("restartMs", m_options.restartMs);
    }
    if (outcome.reply && command == 0x02 && m_options.silentSet) {
        e.str("fault", "set request not answered");
        outcome.reply.reset();
    }
    if (outcome.reply && m_options.silent) {
        e.str("fault", "not answered");
        outcome.reply.reset();
    }
    if (outcome.reply) {
        std::vector<uint8_t> reply = *outcome.reply;
        int copies = 1;
        if (command == 0x00 && m_options.longAnswer) {
            reply.resize(40, 0);
            e.str("fault", "answer of 40 bytes");
        }
        if (command == 0x00 && m_options.duplicate) {
            copies = 2;
            e.str("fault", "answer sent twice");
        }
        sockaddr_in to = from;
        to.sin_port = htons(static_cast<uint16_t>(m_replyPort));
        e.str("replyTo", SocketUtil::toText(to));
        for (int i = 0; i < copies; ++i) {
            // Answers leave from the module's own address, never from the broadcast socket.
            ssize_t sent = ::sendto(m.fd.get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (sent < 0)
                e.str("error", std::string("sendto: ") + std::strerror(errno));
        }
    }
    m_host.logEvent(via, e);
    if (outcome.applied) {
        // The module restarts with its new settings: deaf until it is back.
        m.fd.reset();
        m.broadcast.reset();
        m.backAt = now + std::chrono::milliseconds(m_options.restartMs);
    }
}

void UdpEndpoint::comeBack(Module& m)
{
    m.backAt.reset();
    const NetworkRecord& r = m.responder.record();
    SimEvent e("network-restart");
    std::string why;
    std::string address = m.address;
    if (m_options.lan) {
        if (r.ip != m.before.ip && !moveInterfaceAddress(m.before.ip, r, &why))
            e.str("error", "address not moved: " + why);
        address = r.ipText();
    } else if (r.ip[0] == 127 && r.ip != std::array<uint8_t, 4>{127, 255, 255, 255}) {
        address = r.ipText();
    } else if (r.ip != m.before.ip) {
        e.str("error", "stays on " + m.address + ": " + r.ipText() + " is not a loopback address");
    }
    if (!bind(m, address, m.port, &why) && !bind(m, m.address, m.port, &why))
        e.str("error", "not back: " + why);
    e.str("address", m.address).num("port", m.port);
    m_host.logEvent("udp@" + m.address, e);
    m_host.networkSettingsApplied(m.index, r);
}

void UdpEndpoint::tick(SimTime now)
{
    for (auto& m : m_modules)
        if (m.backAt && now >= *m.backAt)
            comeBack(m);
}

std::optional<SimTime> UdpEndpoint::nextDeadline() const
{
    std::optional<SimTime> next;
    for (auto& m : m_modules)
        if (m.backAt && (!next || *m.backAt < *next))
            next = m.backAt;
    return next;
}
