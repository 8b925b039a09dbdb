#pragma once
// A TCP listener on 127.0.0.1 with an ephemeral port, driven from the test's own thread:
// clients connect into the kernel's backlog, the test accepts and reads or answers when it
// is ready. Nothing here leaves the loopback interface.
#include "common/UniqueFd.h"

#include <chrono>
#include <string>

class LoopbackServer {
public:
    // Listens with the given backlog. valid() is false when that failed.
    explicit LoopbackServer(int backlog = 8);

    bool valid() const { return m_listener.valid(); }
    int port() const { return m_port; }
    // Stops listening: later connections are refused.
    void stopListening() { m_listener.reset(); }

    // The next connection, waiting up to timeout; an invalid fd when none came.
    UniqueFd accept(std::chrono::milliseconds timeout);

    // Reads until count bytes arrived, the peer closed, or timeout passed.
    static std::string readBytes(int fd, std::size_t count, std::chrono::milliseconds timeout);
    // Reads until the peer closes (or timeout passes).
    static std::string readUntilClosed(int fd, std::chrono::milliseconds timeout);
    static bool sendAll(int fd, const std::string& bytes);

private:
    UniqueFd m_listener;
    int m_port = 0;
};
