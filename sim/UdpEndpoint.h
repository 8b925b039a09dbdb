#pragma once
// The network modules' settings protocol on UDP, one module per printer record.
//
// On loopback (the default) a module listens on its own address (127.x.y.z) and on the
// loopback broadcast address 127.255.255.255 at the same port, so that a search broadcast to
// 127.255.255.255 reaches every module of the process; it answers only loopback requesters.
// On a LAN (NetModuleOptions::lan, allowed only inside a network namespace other than the
// host's) the one module listens on 0.0.0.0, so that a broadcast to 255.255.255.255 arrives,
// and answers from its interface address.
//
// Answers go to the requester's address at the reply port (2918, where the tool listens).
// After an applied change the module is deaf for the restart time, then comes back with its
// new settings: its sockets move to the new address (on a LAN the interface address moves),
// and the host moves the TCP listener.
#include "common/UniqueFd.h"
#include "sim/Endpoint.h"
#include "sim/NetworkRecord.h"

#include <string>
#include <vector>

class UdpEndpoint final : public Endpoint {
public:
    UdpEndpoint(SimHost& host, int replyPort, NetModuleOptions options = {})
        : m_host(host), m_replyPort(replyPort), m_options(std::move(options)) {}

    // Binds address:port (port 0 picks a free one) for printer record `index` of the state.
    // Returns false with a reason (also for a non-loopback address off a LAN, and for a LAN
    // module in the host's own network namespace).
    bool add(const std::string& address, int port, size_t index, std::string* error);
    // "127.0.0.2:2918,127.0.0.3:2918".
    std::string boundText() const;

    void addPollFds(std::vector<pollfd>& fds, SimTime now) override;
    void onReady(const pollfd& ready, SimTime now) override;
    void tick(SimTime now) override;
    std::optional<SimTime> nextDeadline() const override;
    void shutdown() override { m_modules.clear(); }

    // True when this process runs in a network namespace other than the host's (PID 1's).
    static bool inPrivateNetworkNamespace(std::string* why);

private:
    struct Module {
        UniqueFd fd;        // own address (or 0.0.0.0 on a LAN): receives and answers
        UniqueFd broadcast; // 127.255.255.255 on loopback
        std::string address;
        int port = 0;
        size_t index = 0;
        NetworkResponder responder;
        std::optional<SimTime> backAt; // restarting after an applied change
        NetworkRecord before;          // the record before that change
    };
    bool bind(Module& m, const std::string& address, int port, std::string* error);
    void serve(Module& m, int fd, SimTime now);
    void comeBack(Module& m);

    SimHost& m_host;
    int m_replyPort;
    NetModuleOptions m_options;
    std::vector<Module> m_modules;
};
