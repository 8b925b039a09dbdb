#pragma once
// A virtual fleet in one process (`tavro-sim --printers N`): N printers, each with its TCP raw
// port and UDP network module on its own loopback address and its own state folder
// <run dir>/printers/<k>, served by one epoll loop (no thread per printer).
//
// The loop keeps, per printer, the fds and events its endpoints asked for last time; after a
// printer has been served (an fd was ready, or its next deadline came) it asks again and
// changes only what differs in the epoll set. Deadlines sit in one ordered set, so an idle
// fleet costs nothing per printer and per wake-up.
//
// Threads: everything runs on the thread that calls run(). SIGINT and SIGTERM must be blocked
// before start() (main does it).
#include "common/UniqueFd.h"
#include "sim/FleetPlan.h"
#include "sim/FleetPrinter.h"
#include "sim/SimOptions.h"

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct FleetOptions {
    SimOptions base;                  // family, timings, fault switches for all, run dir, echo
    int printers = 1;
    std::string first = "127.0.1.1";  // printer 1's address
    int tcpPort = 6001;               // on every printer's address; 0 picks a free one each
    std::vector<int> models;          // model families round robin (empty: base family)
    std::vector<FleetFault> faults;
    bool keepPaper = false;
    std::array<uint8_t, 6> macBase = FleetPlan::kDefaultMacBase;
};

class FleetServer {
public:
    // Open files each printer may hold: TCP listener, UDP socket and its loopback-broadcast
    // twin, the event log, one client connection.
    static constexpr long kFilesPerPrinter = 5;
    static constexpr long kFilesReserved = 64;

    explicit FleetServer(FleetOptions options);
    ~FleetServer();
    FleetServer(const FleetServer&) = delete;
    FleetServer& operator=(const FleetServer&) = delete;

    // Raises the open-file limit, makes the run dir and brings every printer up. A limit too
    // low for N printers lowers N (said on stderr). Returns false with a reason (and cleans up).
    bool start(std::string* error);
    // The lines to print before serving: TAVRO_SIM_RUN_DIR=..., TAVRO_SIM_PRINTERS=N, with
    // --json one object per printer, then "READY printers=N first=ADDR:PORT last=ADDR:PORT".
    std::string readyText() const;
    // Serves until a stop signal; returns the exit code.
    int run();
    void cleanup();

    size_t size() const { return m_slots.size(); }
    const FleetPrinter& printer(size_t i) const { return *m_slots[i].printer; }

    // Printers that fit into `fileLimit` open files.
    static long printersFor(long fileLimit) { return (fileLimit - kFilesReserved) / kFilesPerPrinter; }

private:
    struct Watch {
        int fd;
        short events;
        Endpoint* owner;
    };
    struct Slot {
        std::unique_ptr<FleetPrinter> printer;
        std::vector<Watch> watched;
        std::optional<SimTime> due;
    };
    void serve(size_t i, SimTime now, const pollfd* ready, Endpoint* owner);
    void watch(size_t i, SimTime now);

    FleetOptions m_options;
    std::string m_runDir;
    bool m_ownRunDir = false, m_createdRunDir = false;
    std::vector<Slot> m_slots;
    std::set<std::pair<SimTime, size_t>> m_timers;
    UniqueFd m_epoll, m_signalFd;
    std::vector<pollfd> m_scratch;
    std::vector<Endpoint*> m_scratchOwners;
    std::vector<size_t> m_dueNow;
    bool m_cleaned = false;
};
