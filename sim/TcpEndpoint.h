#pragma once
// The network module's raw TCP port (127.0.0.1:6001 by default): every accepted connection
// gets its own PrinterLink, and replies go back on the same connection. The hang-up fault
// resets the connection (RST), as a module that reboots does.
#include "common/UniqueFd.h"
#include "sim/Endpoint.h"
#include "sim/PrinterLink.h"

#include <list>
#include <memory>
#include <string>

class TcpEndpoint final : public Endpoint {
public:
    // The receive buffer (bytes, before the kernel doubles it) of connections while a stall
    // fault is switched on.
    static constexpr int kStalledReceiveBuffer = 8192;

    explicit TcpEndpoint(SimHost& host) : m_host(host) {}

    // Listens on `address` ("127.0.0.1") and `port` (0 picks a free one). Returns false with a
    // reason.
    bool listen(const std::string& address, int port, std::string* error);
    int port() const { return m_port; }
    const std::string& address() const { return m_address; }
    size_t connections() const { return m_conns.size(); }

    void addPollFds(std::vector<pollfd>& fds, SimTime now) override;
    void onReady(const pollfd& ready, SimTime now) override;
    void tick(SimTime now) override;
    std::optional<SimTime> nextDeadline() const override;
    void shutdown() override;

private:
    struct Conn {
        UniqueFd fd;
        std::unique_ptr<PrinterLink> link;
        std::string peer;
        bool closing = false;
    };
    void flush(Conn& c, SimTime now);
    void close(Conn& c, bool reset, const std::string& why);

    SimHost& m_host;
    UniqueFd m_listen;
    std::string m_address;
    int m_port = 0;
    std::list<Conn> m_conns;
};
