#pragma once
// The running virtual printer: it builds the transports that SimOptions asks for in a run
// dir, prints the environment lines and READY, then serves every transport from one poll()
// loop until SIGINT or SIGTERM, and finally removes what it created.
//
// Threads: everything runs on the thread that calls run(). SIGINT and SIGTERM must be blocked
// in every thread before start() (main does it), so that they arrive through the signalfd.
#include "common/UniqueFd.h"
#include "sim/Endpoint.h"
#include "sim/EventLog.h"
#include "sim/PaperRoll.h"
#include "sim/PrinterState.h"
#include "sim/SimOptions.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class PtyEndpoint;
class TcpEndpoint;
class UdpEndpoint;

class SimServer final : public SimHost {
public:
    explicit SimServer(SimOptions options);
    ~SimServer() override;
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Creates the run dir, loads the state, brings up every transport. Returns false with a
    // reason (and cleans up what it had made).
    bool start(std::string* error);
    // The NAME=VALUE lines a tool needs, valid after start().
    const std::vector<std::pair<std::string, std::string>>& environment() const { return m_env; }
    // Serves until a stop signal; returns the exit code.
    int run();
    // Removes what start() created. Idempotent.
    void cleanup();

    PrinterState& state() override { return m_state; }
    const SimSettings& settings() const override { return m_options.settings; }
    void logEvent(const std::string& via, const SimEvent& e) override;
    void printerRestart(const std::string& reason) override;
    void stateChanged() override { m_saveNeeded = true; }
    PaperRoll* paper() override { return m_paper.get(); }
    void networkSettingsApplied(size_t index, const NetworkRecord& record) override;

private:
    void processDeferred(SimTime now);

    SimOptions m_options;
    PrinterState m_state;
    EventLog m_log;
    std::string m_runDir, m_stateDir;
    bool m_ownRunDir = false;
    bool m_createdRunDir = false;
    std::vector<std::string> m_created; // paths to remove at exit
    std::vector<std::unique_ptr<Endpoint>> m_endpoints;
    TcpEndpoint* m_tcp = nullptr; // one of m_endpoints, when offered
    std::vector<std::pair<std::string, std::string>> m_env;
    UniqueFd m_signalFd;
    std::unique_ptr<PaperRoll> m_paper;
    std::string m_restartReason;
    SimTime m_restartAt{};
    bool m_saveNeeded = false;
    bool m_cleaned = false;
};
