#include "state/FleetRunner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

const char* fleetStatusName(FleetOutcome::Status status)
{
    switch (status) {
    case FleetOutcome::Status::Unchanged: return "unchanged";
    case FleetOutcome::Status::Changed: return "changed";
    case FleetOutcome::Status::Failed: return "failed";
    case FleetOutcome::Status::Partial: return "partial";
    case FleetOutcome::Status::Cancelled: return "cancelled";
    case FleetOutcome::Status::NotStarted: break;
    }
    return "not_started";
}

FleetRunner::FleetRunner(FleetLimits limits, const CancelToken& stop) : m_limits(limits), m_stop(stop)
{
    if (m_limits.parallel < 1)
        m_limits.parallel = 1;
}

std::vector<FleetOutcome> FleetRunner::run(const std::vector<Job>& jobs, const Started& onStarted,
                                           const Finished& onFinished)
{
    const std::size_t count = jobs.size();
    std::vector<FleetOutcome> outcomes(count);
    std::vector<std::unique_ptr<CancelToken>> tokens;
    for (std::size_t i = 0; i < count; ++i)
        tokens.push_back(std::make_unique<CancelToken>());
    std::vector<bool> started(count, false), ended(count, false);
    std::vector<std::thread> workers;

    std::mutex mutex;
    std::condition_variable changed;
    std::mutex callbacks; // the callbacks one at a time, apart from the scheduling state
    int running = 0, failures = 0;
    bool canaryFailed = false;
    bool cancelledRunning = false;

    const std::size_t canaries = std::min<std::size_t>(std::size_t(std::max(m_limits.canary, 0)), count);
    std::string stopReason;
    std::size_t next = 0;

    auto worker = [&](std::size_t i) {
        const auto begin = std::chrono::steady_clock::now();
        FleetOutcome outcome = jobs[i](*tokens[i]);
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (tokens[i]->cancelled() && outcome.status != FleetOutcome::Status::Unchanged &&
            outcome.status != FleetOutcome::Status::Changed)
            outcome.status = FleetOutcome::Status::Cancelled;
        {
            std::lock_guard lock(callbacks);
            if (onFinished)
                onFinished(i, outcome);
        }
        std::lock_guard lock(mutex);
        if (outcome.failed()) {
            ++failures;
            if (i < canaries)
                canaryFailed = true;
        }
        outcomes[i] = std::move(outcome);
        ended[i] = true;
        --running;
        changed.notify_all();
    };

    // Why nothing more may start, if anything stops it. Asked again before every start: a job
    // started a moment ago may already have failed while the lock was let go.
    auto stopped = [&] {
        if (stopReason.empty()) {
            if (m_stop.cancelled())
                stopReason = "not started: interrupted";
            else if (canaryFailed)
                stopReason = "not started: a canary printer failed";
            else if (m_limits.maxFailures >= 0 && failures >= m_limits.maxFailures && failures > 0)
                stopReason = "not started: " + std::to_string(failures) + " printer(s) failed (--max-failures " +
                             std::to_string(m_limits.maxFailures) + ")";
        }
        return !stopReason.empty();
    };

    std::unique_lock lock(mutex);
    for (;;) {
        stopped();
        if (m_stop.cancelled() && !cancelledRunning) {
            cancelledRunning = true;
            for (std::size_t i = 0; i < count; ++i)
                if (started[i] && !ended[i])
                    tokens[i]->cancel();
        }
        // The canaries run first, by themselves.
        const bool canaryPhase = next < canaries || (canaries > 0 && next == canaries && running > 0);
        const std::size_t limit = std::size_t(m_limits.parallel);
        while (!stopped() && next < count && std::size_t(running) < limit &&
               !(next >= canaries && canaryPhase)) {
            const std::size_t i = next++;
            started[i] = true;
            ++running;
            lock.unlock();
            {
                std::lock_guard cb(callbacks);
                if (onStarted)
                    onStarted(i);
            }
            workers.emplace_back(worker, i);
            lock.lock();
        }
        if (running == 0 && (next >= count || !stopReason.empty()))
            break;
        // A stop request is seen within a tenth of a second (the signal handler cannot notify).
        changed.wait_for(lock, std::chrono::milliseconds(100));
    }
    lock.unlock();
    for (auto& w : workers)
        w.join();
    for (std::size_t i = 0; i < count; ++i)
        if (!started[i]) {
            outcomes[i].status = FleetOutcome::Status::NotStarted;
            outcomes[i].error = stopReason;
            if (onFinished)
                onFinished(i, outcomes[i]);
        }
    return outcomes;
}
