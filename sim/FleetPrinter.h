#pragma once
// One printer of a virtual fleet: the network module's TCP raw port and UDP settings protocol
// on its own loopback address, its own state folder (<run dir>/printers/<k>), settings, fault
// switches and event log. The fleet's event loop (FleetServer) drives its endpoints.
//
// Kept small for thousands in one process: nothing is written before the printer has
// something to keep (its folder appears with its first event), the event log is opened with
// the first event, and the paper roll is made with the first thing printed (and only when
// receipts are kept at all).
//
// Threads: the fleet's event loop only.
#include "sim/Endpoint.h"
#include "sim/EventLog.h"
#include "sim/NetworkRecord.h"
#include "sim/PaperRoll.h"
#include "sim/PrinterState.h"

#include <memory>
#include <string>
#include <vector>

class TcpEndpoint;

class FleetPrinter final : public SimHost {
public:
    struct Config {
        int index = 1;          // k, from 1
        std::string address;    // "127.0.1.1"
        int tcpPort = 6001;     // 0 picks a free one
        int udpPort = 2918;     // 0 picks a free one
        int udpReplyPort = 2918;
        std::string stateDir;   // <run dir>/printers/<k>
        SimSettings settings;   // family and fault switches of this printer
        NetModuleOptions network;
        std::array<uint8_t, 6> mac{};
        bool keepPaper = false;
        bool echo = true, json = false; // the event lines on stdout
    };

    explicit FleetPrinter(Config config);
    ~FleetPrinter() override;
    FleetPrinter(const FleetPrinter&) = delete;
    FleetPrinter& operator=(const FleetPrinter&) = delete;

    // Loads what an earlier run kept in the state folder (when it exists), listens on TCP and
    // binds the UDP module. Returns false with a reason.
    bool start(std::string* error);
    int index() const { return m_config.index; }
    const std::string& address() const { return m_config.address; }
    int tcpPort() const;
    int udpPort() const { return m_udpPort; }
    const std::string& stateDir() const { return m_config.stateDir; }
    std::string macText() const;

    // The endpoints the event loop serves.
    const std::vector<std::unique_ptr<Endpoint>>& endpoints() const { return m_endpoints; }
    // Timed work of every endpoint, then what a command left to do (restart, save).
    void tick(SimTime now);
    void processDeferred(SimTime now);
    std::optional<SimTime> nextDeadline(SimTime now) const;
    // Logs the stop (when the printer has a log) and saves what is pending.
    void stop(int signal, SimTime now);
    void shutdown();

    PrinterState& state() override { return m_state; }
    const SimSettings& settings() const override { return m_config.settings; }
    void logEvent(const std::string& via, const SimEvent& e) override;
    void printerRestart(const std::string& reason) override;
    void stateChanged() override { m_saveNeeded = true; }
    PaperRoll* paper() override;
    void networkSettingsApplied(size_t index, const NetworkRecord& record) override;

private:
    void save();
    bool openLog();

    Config m_config;
    PrinterState m_state;
    EventLog m_log;
    bool m_logTried = false;
    std::vector<std::unique_ptr<Endpoint>> m_endpoints;
    TcpEndpoint* m_tcp = nullptr;
    int m_udpPort = 0;
    std::unique_ptr<PaperRoll> m_paper;
    std::string m_restartReason;
    SimTime m_restartAt{};
    bool m_saveNeeded = false;
};
