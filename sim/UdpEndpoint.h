#pragma once
// The network modules' settings protocol on UDP: one socket per printer address (loopback
// only), each answering searches with its record and taking set/apply requests for its MAC.
// Answers go to the requester's address at the reply port (2918, where the tool listens), and
// only to loopback requesters: the simulator never sends a packet off the machine.
#include "common/UniqueFd.h"
#include "sim/Endpoint.h"
#include "sim/NetworkRecord.h"

#include <string>
#include <vector>

class UdpEndpoint final : public Endpoint {
public:
    UdpEndpoint(SimHost& host, int replyPort) : m_host(host), m_replyPort(replyPort) {}

    // Binds address:port (port 0 picks a free one) for printer record `index` of the state.
    // Returns false with a reason (also for a non-loopback address).
    bool add(const std::string& address, int port, size_t index, std::string* error);
    // "127.0.0.2:2918,127.0.0.3:2918".
    std::string boundText() const;

    void addPollFds(std::vector<pollfd>& fds, SimTime now) override;
    void onReady(const pollfd& ready, SimTime now) override;
    void tick(SimTime) override {}
    std::optional<SimTime> nextDeadline() const override { return std::nullopt; }
    void shutdown() override { m_sockets.clear(); }

private:
    struct Socket {
        UniqueFd fd;
        std::string address;
        int port = 0;
        size_t index = 0;
        NetworkResponder responder;
    };
    SimHost& m_host;
    int m_replyPort;
    std::vector<Socket> m_sockets;
};
