#pragma once
// A timed sequence (NV upload, logo printing, the parallel acknowledgement, the legacy
// firmware download) written as a step machine: each step does a bounded piece of work and
// says when it wants to run again. The desktop tool drives a job on a worker thread of its
// own (qthost/QtStepDriver), so a step that blocks on the printer never stops the window; the
// CLI and the tests drive it with runStepJob on a Clock (the test Clock records the waits and
// returns at once).
#include "app/Clock.h"

#include <chrono>
#include <string>

struct StepResult {
    enum class Kind {
        Again,    // run step() again after `after`
        Finished, // the job is done
        Failed,   // the job ended with `message` (already shown to the user where it must be)
    };
    Kind kind = Kind::Finished;
    std::chrono::milliseconds after{0};
    std::string message;

    static StepResult again(std::chrono::milliseconds wait) { return {Kind::Again, wait, {}}; }
    static StepResult finished() { return {Kind::Finished, {}, {}}; }
    static StepResult failed(std::string why) { return {Kind::Failed, {}, std::move(why)}; }
};

class StepJob {
public:
    virtual ~StepJob() = default;
    // One step. Called on the driver's thread only, one step at a time.
    virtual StepResult step() = 0;
    // The user asked to stop (Cancel button, Ctrl-C). The job decides what stopping means
    // (an upload pads the open definition first) and says so from its next step(). Any
    // thread may call it, also while a step runs: it only sets an atomic flag and returns.
    virtual void cancel() {}
    // After cancel(): the printer takes nothing of what the running step is writing (it stalls
    // or holds off flow control), so the step's wait on it ends now (the job's cancel token)
    // and the job goes on with what stopping means. Any thread may call it.
    virtual void abort() { cancel(); }
};

// Runs the job to its end on the clock: step, wait what it asked, step again. Returns the
// last result (Finished or Failed). `stop`, when given, is polled before each step; once it
// returns true the job is cancelled (once) and driven on to its end.
template <class StopFn>
StepResult runStepJob(StepJob& job, Clock& clock, StopFn&& stop)
{
    bool cancelled = false;
    for (;;) {
        if (!cancelled && stop()) {
            cancelled = true;
            job.cancel();
        }
        StepResult r = job.step();
        if (r.kind != StepResult::Kind::Again)
            return r;
        if (r.after.count() > 0)
            clock.sleep(r.after);
    }
}

inline StepResult runStepJob(StepJob& job, Clock& clock)
{
    return runStepJob(job, clock, [] { return false; });
}
