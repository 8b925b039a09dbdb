#pragma once
// Small BSD-socket helpers shared by the tool and the virtual printer (no protocol code).
#include <netinet/in.h>
#include <string>

namespace SocketUtil {

// Fills an IPv4 socket address from dotted text and a port. False when the text is no address
// or the port is outside 0..65535.
bool parseIpv4(const std::string& address, int port, sockaddr_in* out);
// "a.b.c.d:port".
std::string toText(const sockaddr_in& address);
// The local port a socket is bound to, or 0.
int localPort(int fd);
// True for 127.0.0.0/8.
bool isLoopback(const sockaddr_in& address);

} // namespace SocketUtil
