#include "common/SocketUtil.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace SocketUtil {

bool parseIpv4(const std::string& address, int port, sockaddr_in* out)
{
    if (port < 0 || port > 65535)
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
        return false;
    *out = sa;
    return true;
}

std::string toText(const sockaddr_in& address)
{
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(address.sin_port));
}

int localPort(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

bool isLoopback(const sockaddr_in& address)
{
    return (ntohl(address.sin_addr.s_addr) >> 24) == 127;
}

} // namespace SocketUtil
