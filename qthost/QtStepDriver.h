#pragma once
// Drives a StepJob (app/StepJob.h) from the desktop tool's event loop: each step runs from a
// single-shot timer armed with the wait the previous step asked for, so the window keeps
// painting and taking input between steps, and the job never blocks the GUI thread longer
// than one step.
//
//     m_driver = new QtStepDriver(this, "lptAckTimer");
//     m_driver->start(std::move(job), [this](const StepResult& r) { ... });
//
// The waits between steps run on the timer, or on a Clock when one is given (the desktop
// clock keeps painting while it waits; a test clock makes them instant and countable).
//
// GUI thread only. The driver owns the job from start() until it ends or is stopped.
#include "app/StepJob.h"

#include <QObject>

#include <chrono>

#include <functional>
#include <memory>

class Clock;
class QTimer;

class QtStepDriver final : public QObject {
    Q_OBJECT
public:
    // timerName: the object name of the driver's timer (tests find it by that name).
    // clock: when not null, each wait is taken on it and the next step follows at once.
    QtStepDriver(QObject* parent, const QString& timerName, Clock* clock = nullptr);
    ~QtStepDriver() override;

    using Done = std::function<void(const StepResult&)>;
    // Runs the job's first step after firstWait (now when zero), then each further one after
    // the wait the previous asked for; done gets the Finished or Failed result (after the job
    // was let go). A job that is still running is stopped first (without done).
    void start(std::unique_ptr<StepJob> job, Done done, std::chrono::milliseconds firstWait = {});
    // Takes the next step at once instead of waiting for the timer (the timer's own tick).
    void stepNow();
    // Lets the job go without another step; done is not called.
    void stop();
    // Asks the job to stop (StepJob::cancel); its next step follows without the pending wait
    // (from the event loop, or as soon as a step that is running returns).
    void cancel();
    bool running() const { return static_cast<bool>(m_job); }
    QTimer* timer() const { return m_timer; }

private:
    QTimer* m_timer;
    Clock* m_clock;
    // Shared so that a step which stops the driver (a window closing while the step serves
    // events) does not pull the job from under itself.
    std::shared_ptr<StepJob> m_job;
    Done m_done;
    bool m_inStep = false;
    bool m_cancelled = false;
};
