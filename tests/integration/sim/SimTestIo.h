#pragma once
// Raw I/O against the running virtual printer: a pty opened as the tool would, a TCP client,
// a loopback UDP socket, all with deadlines in seconds so that a loaded machine does not fail
// them.
#include "common/SocketUtil.h"
#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace simio {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline Bytes hex(const std::string& text)
{
    Bytes out;
    std::string d;
    for (char c : text)
        if (isxdigit(static_cast<unsigned char>(c)))
            d += c;
    for (size_t i = 0; i + 1 < d.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(d.substr(i, 2), nullptr, 16)));
    return out;
}
inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes fn6(int n) { return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, static_cast<uint8_t>(n)}; }
inline Bytes answer(int n, const std::string& text)
{
    Bytes out{0x37, 0x27};
    for (char c : std::to_string(n))
        out.push_back(static_cast<uint8_t>(c));
    out.push_back(0x1F);
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return out;
}

// Opens a port raw, as the tool does (O_NOCTTY, no echo, no line discipline).
inline UniqueFd openPort(const std::string& path, speed_t speed = B115200)
{
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return fd;
    termios t{};
    if (::tcgetattr(fd.get(), &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        ::tcsetattr(fd.get(), TCSANOW, &t);
    }
    return fd;
}

inline bool writeAll(int fd, const Bytes& data, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
{
    auto deadline = Clock::now() + timeout;
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::write(fd, data.data() + off, data.size() - off);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (Clock::now() > deadline)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return true;
}

// Reads until `count` bytes arrived or the time-out; returns what came.
inline Bytes readBytes(int fd, size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
{
    Bytes out;
    auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        uint8_t buf[4096];
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return out;
}

inline UniqueFd connectTcp(const std::string& host, int port)
{
    sockaddr_in sa{};
    if (!SocketUtil::parseIpv4(host, port, &sa))
        return UniqueFd();
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return UniqueFd();
    return fd;
}

inline UniqueFd udpSocket(const std::string& address, int port)
{
    sockaddr_in sa{};
    SocketUtil::parseIpv4(address, port, &sa);
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return UniqueFd();
    return fd;
}

inline bool sendUdp(int fd, const std::string& hostPort, const Bytes& data)
{
    auto colon = hostPort.rfind(':');
    sockaddr_in sa{};
    if (colon == std::string::npos ||
        !SocketUtil::parseIpv4(hostPort.substr(0, colon), std::stoi(hostPort.substr(colon + 1)), &sa))
        return false;
    return ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) ==
           static_cast<ssize_t>(data.size());
}

inline Bytes recvUdp(int fd, std::chrono::milliseconds timeout, sockaddr_in* from = nullptr)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1)
        return {};
    uint8_t buf[256];
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (from)
        *from = sa;
    return n > 0 ? Bytes(buf, buf + n) : Bytes{};
}

} // namespace simio
