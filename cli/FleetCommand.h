#pragma once
// tavroctl apply/plan over many printers (--targets) and history --run: the part of the state
// command that turns a printer list, a LAN search or the attached USB printers into one job per
// printer, runs them (state/FleetRunner), keeps the journal (state/RunJournal) and prints a
// line or a JSON object per printer as it finishes, then the summary.
#include "cli/CliCommand.h"
#include "port/UdpChannel.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct FleetArgs {
    // From the state command.
    std::string stateFile;
    bool check = false;
    std::string only, force;
    double timeoutSeconds = 5.0;
    // Which printers: a list file, "search" or "usb".
    std::string targets;
    std::vector<std::string> limits;
    int parallel = 8;
    int canary = 0;
    int maxFailures = -1;
    std::int64_t resume = 0;
    // The LAN search (--broadcast, --bind, --udp-port, --udp-timeout-ms, as for one printer):
    // --targets search, and each network printer's network section.
    UdpSettings network = UdpSettings::fromEnvironment();
    std::chrono::milliseconds networkWait{30000};

    bool requested() const { return !targets.empty() || resume > 0; }
};

// The options above on apply and plan.
void addFleetOptions(CLI::App* command, FleetArgs& args);
// Exit status: 0 all unchanged, 2 changed (all verified), 4 all failed or nothing started, 6
// some changed and some failed, 1 bad input (nothing sent).
int runFleet(const CliOptions& options, const FleetArgs& args);
// history --run RUN: the run, its printers and their steps.
int showFleetRun(const CliOptions& options, std::int64_t run);
