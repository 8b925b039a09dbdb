#pragma once
// Runs a StepJob (app/StepJob.h) for the desktop tool on a worker thread of its own, so that
// a step which blocks on the printer (a write to a printer that holds off flow control, an
// erase) never stops the window from painting or from hearing Cancel.
//
//     m_driver = new QtStepDriver(this, "lptAck");
//     m_driver->start(std::move(job), [this](const StepResult& r) { ... });
//
// The worker takes the job's steps and the waits between them. A wait ends early when the
// job is cancelled or the driver stopped (a condition variable, not a sleep); with a Clock
// given (tests), each wait is taken on that clock instead, so a test clock makes them instant
// and countable. The end reaches the GUI thread as a queued call; `done` runs there, exactly
// once, after the worker has let the job go.
//
// What a step calls back into must be safe from the worker: progress through a
// QtProgressSink, boxes through QtPrompter (it asks on the GUI thread), window messages
// through QtMessageTarget, waits on a plain clock. While a job runs, its connection belongs to
// the worker: the window does not touch it.
//
// Public functions: GUI thread only. The driver owns the job from start() until the worker
// has let it go; destroying the driver stops the job first.
#include "app/StepJob.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

class Clock;

class QtStepDriver final : public QObject {
    Q_OBJECT
public:
    using Ms = std::chrono::milliseconds;
    using Done = std::function<void(const StepResult&)>;

    // name: the driver's object name (tests find it by that name).
    // clock: when not null, the worker takes each wait on it (it must be safe from a worker
    // thread; a cancel or stop is then heard when the wait is over).
    QtStepDriver(QObject* parent, const QString& name, Clock* clock = nullptr);
    ~QtStepDriver() override;

    // Whether a Cancel ends the wait before the first step. The erase after the upload's
    // define command is the printer's own time: it is served whole before the job hears of
    // the Cancel in a step, as the printer cannot take the padding earlier.
    enum class FirstWait { EndsOnCancel, KeptOnCancel };

    // Runs the job's first step after firstWait (at once when zero), then each further one
    // after the wait the previous asked for; done gets the Finished or Failed result. A job
    // that is still running is stopped first (without done).
    void start(std::unique_ptr<StepJob> job, Done done, Ms firstWait = {},
               FirstWait firstWaitRule = FirstWait::EndsOnCancel);
    // Ends the wait the worker is in, so the next step follows now (a step that is running is
    // not affected). For the window's own "go on now" and for tests that step on demand.
    void stepNow();
    // Asks the job to stop: StepJob::cancel() at once from this thread (jobs keep their flag
    // atomic), and a pending wait ends now. The job then steps on to its end; done follows.
    // Returns at once.
    void cancel();
    // After cancel(): ends the running step's wait on the printer (StepJob::abort). Returns at once.
    void abort();
    // Lets the job go without another step; done is not called. A step that is running is
    // finished first: this returns when the worker has let the job go, serving queued calls
    // meanwhile (user input stays queued), and any box the step is still waiting for is
    // answered for it with Cancel/No. The job is not told to cancel; do that first when the
    // step should end early.
    void stop();

    // From start() until done has run or stop().
    bool running() const { return static_cast<bool>(m_run); }
    // The worker is waiting between steps (not inside a step).
    bool waiting() const;
    // The wait the worker is in, or last took (zero before the first).
    Ms currentWait() const;
    // Steps taken by the current job so far.
    int stepsTaken() const;

private:
    struct Run;
    void work(const std::shared_ptr<Run>& run);
    void finished(const std::shared_ptr<Run>& run, const StepResult& result);

    Clock* m_clock;
    std::shared_ptr<Run> m_run;
    Done m_done;
};
