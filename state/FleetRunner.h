#pragma once
// Runs one job per printer on worker threads: at most `parallel` at once, the first `canary`
// jobs alone before any other (the run stops when one of them does not succeed), no new job
// after `maxFailures` failures, and none after the run's stop token is cancelled (Ctrl-C) —
// which also cancels the token of every job still running, so each ends safely at its next
// wait and says what its printer now holds.
//
// A job is given a cancel token of its own and returns how it ended; the runner adds the jobs
// it never started. Each job touches only what it was given (its own engine, connection and
// record connection), so the runner shares nothing with them but their tokens.
//
// Threads: run() on one thread; it blocks until every started job has ended. The callbacks
// are called on the workers' threads, one at a time (the runner serializes them).
#include "app/CancelToken.h"

#include <functional>
#include <string>
#include <vector>

struct FleetOutcome {
    enum class Status {
        Unchanged,
        Changed,    // every change made and verified (a check: something would change)
        Failed,     // nothing changed
        Partial,    // some changes made, then one failed
        Cancelled,  // the stop came while it ran: `error` says what the printer holds
        NotStarted, // the canary failed, the failure budget was spent, or the stop came first
    };
    Status status = Status::NotStarted;
    std::string error;
    double seconds = 0;

    bool failed() const { return status == Status::Failed || status == Status::Partial || status == Status::Cancelled; }
};

// "unchanged", "changed", "failed", "partial", "cancelled", "not_started".
const char* fleetStatusName(FleetOutcome::Status status);

struct FleetLimits {
    int parallel = 8;
    int canary = 0;
    int maxFailures = -1; // no new job after this many failures; negative: no limit
};

class FleetRunner {
public:
    using Job = std::function<FleetOutcome(const CancelToken&)>;
    // index: the job's place in the list.
    using Started = std::function<void(std::size_t index)>;
    using Finished = std::function<void(std::size_t index, const FleetOutcome&)>;

    FleetRunner(FleetLimits limits, const CancelToken& stop);

    // Runs the jobs; returns every job's outcome in the list's order. onFinished hears the
    // jobs it never started too (NotStarted, with the reason), after the others.
    std::vector<FleetOutcome> run(const std::vector<Job>& jobs, const Started& onStarted, const Finished& onFinished);

private:
    FleetLimits m_limits;
    const CancelToken& m_stop;
};
