#include "port/UdpChannel.h"

#include "common/SocketUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

namespace {

std::string errnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

UdpSettings UdpSettings::fromEnvironment()
{
    UdpSettings s;
    sockaddr_in probe{};
    if (const char* v = std::getenv("TAVRO_NET_BROADCAST"); v && SocketUtil::parseIpv4(v, 0, &probe))
        s.destination = v;
    if (const char* v = std::getenv("TAVRO_NET_BIND"); v && SocketUtil::parseIpv4(v, 0, &probe))
        s.bindAddress = v;
    if (const char* v = std::getenv("TAVRO_NET_PORT"); v && *v) {
        char* end = nullptr;
        long port = std::strtol(v, &end, 10);
        if (end && !*end && port >= 1 && port <= 65535)
            s.port = static_cast<int>(port);
    }
    return s;
}

UdpChannel::UdpChannel(UdpSettings settings) : m_settings(std::move(settings))
{
    m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

Status UdpChannel::open()
{
    auto fail = [this](Step step, std::string message) {
        if (m_failedStep == Step::None)
            m_failedStep = step;
        return Status::failure(std::move(message));
    };
    sockaddr_in probe{};
    if (!SocketUtil::parseIpv4(m_settings.destination, m_settings.port, &probe))
        return fail(Step::Destination, "not an IPv4 destination: " + m_settings.destination + ":" +
                                           std::to_string(m_settings.port));
    m_send = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!m_send)
        return fail(Step::SendSocket, errnoText("socket"));
    int one = 1;
    if (::setsockopt(m_send.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0)
        return fail(Step::Broadcast, errnoText("SO_BROADCAST"));
    m_receive = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_receive)
        return fail(Step::ReceiveSocket, errnoText("socket"));
    // A simulator (or a second tool) on the same host listens on the same port.
    if (::setsockopt(m_receive.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        return fail(Step::ReuseAddress, errnoText("SO_REUSEADDR"));
    sockaddr_in local{};
    if (!SocketUtil::parseIpv4(m_settings.bindAddress, m_settings.port, &local))
        return fail(Step::Bind, "not an IPv4 bind address: " + m_settings.bindAddress);
    if (::bind(m_receive.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::string why = errnoText(("bind " + SocketUtil::toText(local)).c_str());
        m_receive.reset();
        return fail(Step::Bind, why);
    }
    return Status::success();
}

Status UdpChannel::send(std::span<const uint8_t> bytes)
{
    if (!m_send)
        return Status::failure("no sending socket");
    sockaddr_in to{};
    if (!SocketUtil::parseIpv4(m_settings.destination, m_settings.port, &to))
        return Status::failure("not an IPv4 destination: " + m_settings.destination);
    ssize_t n;
    do
        n = ::sendto(m_send.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return Status::failure(errnoText(("sendto " + SocketUtil::toText(to)).c_str()));
    if (static_cast<size_t>(n) != bytes.size())
        return Status::failure("sendto " + SocketUtil::toText(to) + ": only " + std::to_string(n) + " of " +
                               std::to_string(bytes.size()) + " bytes left");
    return Status::success();
}

UdpChannel::Received UdpChannel::receive(std::size_t maxBytes)
{
    Received r;
    if (!m_receive) {
        r.error = "no receiving socket";
        return r;
    }
    const auto deadline = std::chrono::steady_clock::now() + m_settings.silence;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{m_receive.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        int ready = ::poll(fds, m_wake ? 2 : 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            r.error = errnoText("poll");
            return r;
        }
        if (m_wake && (fds[1].revents & POLLIN)) {
            r.kind = Received::Kind::Cancelled;
            return r;
        }
        if (ready == 0) {
            r.kind = Received::Kind::Silence;
            return r;
        }
        std::vector<uint8_t> buf(maxBytes);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(m_receive.get(), buf.data(), buf.size(), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n < 0) {
            r.error = errnoText("recvfrom");
            return r;
        }
        r.from = ntohl(from.sin_addr.s_addr);
        r.fromText = SocketUtil::toText(from);
        if (static_cast<size_t>(n) > maxBytes) {
            r.kind = Received::Kind::TooLong;
            r.error = "a datagram of " + std::to_string(n) + " bytes from " + r.fromText + " (at most " +
                      std::to_string(maxBytes) + " fit)";
            return r;
        }
        buf.resize(static_cast<size_t>(n));
        r.bytes = std::move(buf);
        r.kind = Received::Kind::Datagram;
        return r;
    }
}

void UdpChannel::cancel()
{
    if (m_wake) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake.get(), &one, sizeof one);
    }
}

std::vector<uint32_t> UdpChannel::hostAddresses()
{
    std::vector<uint32_t> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return out;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        out.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr));
    }
    ::freeifaddrs(list);
    return out;
}
