#pragma once
// Helpers for the network settings tests: free loopback ports, a raw module socket that
// records what the tool sends, and the simulator's arguments for loopback modules.
#include "common/SocketUtil.h"
#include "common/UniqueFd.h"
#include "port/UdpChannel.h"

#include <arpa/inet.h>
#include <chrono>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace nettest {

using Bytes = std::vector<uint8_t>;

// A UDP port that is free on loopback now. Each test uses its own port and its own
// 127.x.y.z addresses, so that tests running side by side never hear each other.
inline int freeUdpPort()
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    SocketUtil::parseIpv4("127.0.0.1", 0, &sa);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return 0;
    return SocketUtil::localPort(fd.get());
}

// The tool pointed at the loopback broadcast address, answers received on 127.0.0.1.
inline UdpSettings loopbackSettings(int port, int silenceMs = 300)
{
    UdpSettings s;
    s.destination = "127.255.255.255";
    s.bindAddress = "127.0.0.1";
    s.port = port;
    s.silence = std::chrono::milliseconds(silenceMs);
    return s;
}

// A hand-made module: a socket on the loopback broadcast address that records datagrams.
class RawModule {
public:
    explicit RawModule(int port)
    {
        m_fd = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        int one = 1;
        ::setsockopt(m_fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        SocketUtil::parseIpv4("127.255.255.255", port, &sa);
        m_ok = ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    bool ok() const { return m_ok; }
    // The next datagram within the time, with its sender.
    std::optional<Bytes> receive(std::chrono::milliseconds timeout, sockaddr_in* from = nullptr)
    {
        pollfd p{m_fd.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1)
            return std::nullopt;
        Bytes buf(2048);
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        ssize_t n = ::recvfrom(m_fd.get(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&sa), &len);
        if (n < 0)
            return std::nullopt;
        buf.resize(static_cast<size_t>(n));
        if (from)
            *from = sa;
        return buf;
    }
    // Sends bytes from a module address to the requester's port.
    static bool answer(const std::string& fromAddress, const sockaddr_in& requester, int port, const Bytes& bytes)
    {
        UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in me{};
        SocketUtil::parseIpv4(fromAddress, 0, &me);
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&me), sizeof me) != 0)
            return false;
        sockaddr_in to = requester;
        to.sin_port = htons(static_cast<uint16_t>(port));
        return ::sendto(fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(bytes.size());
    }

private:
    UniqueFd m_fd;
    bool m_ok = false;
};

} // namespace nettest
