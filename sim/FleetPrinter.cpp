#include "sim/FleetPrinter.h"

#include "sim/TcpEndpoint.h"
#include "sim/UdpEndpoint.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

FleetPrinter::FleetPrinter(Config config) : m_config(std::move(config)), m_state(m_config.settings.family)
{
    m_log.setEcho(m_config.echo, m_config.json);
    m_log.setPrinter(m_config.index);
}

FleetPrinter::~FleetPrinter()
{
    shutdown();
}

int FleetPrinter::tcpPort() const
{
    return m_tcp ? m_tcp->port() : 0;
}

std::string FleetPrinter::macText() const
{
    NetworkRecord r;
    r.mac = m_config.mac;
    return r.macText();
}

bool FleetPrinter::start(std::string* error)
{
    std::error_code ec;
    // A printer that kept something in an earlier run (same --run-dir) comes back with it.
    bool fresh = true;
    if (fs::is_directory(m_config.stateDir, ec)) {
        std::vector<std::string> warnings;
        if (!m_state.load(m_config.stateDir, &warnings)) {
            *error = "cannot read the state folder " + m_config.stateDir;
            return false;
        }
        for (auto& w : warnings)
            std::fprintf(stderr, "tavro-sim: printer %d: state: %s\n", m_config.index, w.c_str());
        fresh = !fs::exists(m_config.stateDir + "/network.txt", ec);
    }

    auto tcp = std::make_unique<TcpEndpoint>(*this);
    std::string why;
    if (!tcp->listen(m_config.address, m_config.tcpPort, &why)) {
        *error = "printer " + std::to_string(m_config.index) + ": TCP: " + why;
        return false;
    }
    m_tcp = tcp.get();
    m_endpoints.push_back(std::move(tcp));

    if (fresh) {
        // The record of a new printer names its own address, port and MAC; it is written only
        // when it changes, as it follows from k alone.
        NetworkRecord& r = m_state.network.front();
        std::array<uint8_t, 4> ip{};
        NetworkRecord::parseIp(m_config.address, ip);
        r.ip = ip;
        r.mac = m_config.mac;
        r.tcpPort = static_cast<uint16_t>(m_tcp->port());
        const NetModuleOptions& net = m_config.network;
        if (net.mask)
            r.mask = *net.mask;
        if (net.gateway)
            r.gateway = *net.gateway;
        if (net.dhcp)
            r.dhcp = *net.dhcp;
        m_state.network.resize(1);
        m_state.networkDirty = false;
    }
    auto udp = std::make_unique<UdpEndpoint>(*this, m_config.udpReplyPort, m_config.network);
    if (!udp->add(m_config.address, m_config.udpPort, 0, &why)) {
        *error = "printer " + std::to_string(m_config.index) + ": UDP: " + why;
        return false;
    }
    const std::string bound = udp->boundText();
    m_udpPort = std::atoi(bound.substr(bound.rfind(':') + 1).c_str());
    m_endpoints.push_back(std::move(udp));
    // A printer restarted with an unfinished download is still unfinished.
    for (auto& [area, detail] : m_state.incomplete)
        logEvent("printer", SimEvent("firmware-area").str("area", area).str("state", "unfinished").str("detail", detail)
                                .flag("kept", true));
    return true;
}

bool FleetPrinter::openLog()
{
    if (m_logTried)
        return true;
    m_logTried = true;
    std::error_code ec;
    fs::create_directories(m_config.stateDir, ec);
    std::string why;
    if (ec || !m_log.open(m_config.stateDir + "/events.jsonl", &why)) {
        std::fprintf(stderr, "tavro-sim: printer %d: %s\n", m_config.index,
                     ec ? ("cannot create " + m_config.stateDir + ": " + ec.message()).c_str() : why.c_str());
        return false;
    }
    return true;
}

void FleetPrinter::save()
{
    if (!m_saveNeeded)
        return;
    m_saveNeeded = false;
    std::string why;
    if (!m_state.save(m_config.stateDir, &why))
        logEvent("printer", SimEvent("error").str("error", "cannot save the state: " + why));
}

void FleetPrinter::logEvent(const std::string& via, const SimEvent& e)
{
    // As with one printer: the state a command changed is on disk before its event line.
    save();
    openLog();
    m_log.log(via, e);
}

void FleetPrinter::printerRestart(const std::string& reason)
{
    m_restartReason = reason;
    m_restartAt = m_config.settings.storeMs > 0
                      ? SimClock::now() + std::chrono::milliseconds(m_config.settings.storeMs)
                      : SimTime::min();
}

PaperRoll* FleetPrinter::paper()
{
    if (!m_config.keepPaper)
        return nullptr;
    if (!m_paper)
        m_paper = std::make_unique<PaperRoll>(m_state, m_config.stateDir + "/receipts",
                                              [this](SimEvent e) { logEvent("printer", e); });
    return m_paper.get();
}

void FleetPrinter::networkSettingsApplied(size_t, const NetworkRecord& record)
{
    // The module's TCP raw port moves with its settings, on loopback addresses only.
    if (!m_tcp || record.tcpPort == 0)
        return;
    std::string address = m_tcp->address();
    if (record.ip[0] == 127)
        address = record.ipText();
    if (address == m_tcp->address() && record.tcpPort == m_tcp->port())
        return;
    std::string why;
    SimEvent e("tcp-move");
    e.str("address", address).num("port", record.tcpPort);
    if (!m_tcp->listen(address, record.tcpPort, &why))
        e.str("error", why);
    logEvent("tcp", e);
}

void FleetPrinter::tick(SimTime now)
{
    for (auto& e : m_endpoints)
        e->tick(now);
    processDeferred(now);
}

void FleetPrinter::processDeferred(SimTime now)
{
    if (!m_restartReason.empty() && now >= m_restartAt) {
        std::string reason;
        std::swap(reason, m_restartReason);
        m_state.userSettingMode = false;
        const SimTime until = now + std::chrono::milliseconds(m_config.settings.restartMs);
        logEvent("printer", SimEvent("restart").str("reason", reason).num("ms", m_config.settings.restartMs));
        for (auto& e : m_endpoints)
            e->printerRestarting(now, until);
        if (PaperRoll* roll = paper())
            roll->powerOn();
    }
    save();
}

std::optional<SimTime> FleetPrinter::nextDeadline(SimTime now) const
{
    std::optional<SimTime> next;
    if (!m_restartReason.empty())
        next = std::max(m_restartAt, now);
    for (auto& e : m_endpoints)
        if (auto d = e->nextDeadline(); d && (!next || *d < *next))
            next = d;
    return next;
}

void FleetPrinter::stop(int signal, SimTime now)
{
    if (m_log.count() > 0)
        logEvent("printer", SimEvent("stop").num("signal", signal));
    processDeferred(now);
}

void FleetPrinter::shutdown()
{
    for (auto& e : m_endpoints)
        e->shutdown();
    m_endpoints.clear();
    m_tcp = nullptr;
}
