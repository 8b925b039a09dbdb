#include "qthost/QtStepDriver.h"

#include "app/Clock.h"
#include "qthost/QtClock.h"
#include "qthost/QtGuiCall.h"

#include <QMetaObject>

#include <cassert>
#include <thread>

// One job on its worker. The release's mutex guards everything below but `job` and `thread`:
// `job` is used by the worker without the lock and only moved out under it; `thread` belongs
// to the GUI thread. `released` is the stop request.
struct QtStepDriver::Run final : QtWorkerRelease {
    std::unique_ptr<StepJob> job;
    Ms firstWait{0};
    bool keepFirstWait = false;

    bool cancelled = false;
    bool skipWait = false;
    bool waiting = false;
    bool ended = false; // the worker has let the job go and posted what it had to
    Ms wait{0};
    int steps = 0;

    std::thread thread;
};

QtStepDriver::QtStepDriver(QObject* parent, const QString& name, Clock* clock)
    : QObject(parent), m_clock(clock)
{
    setObjectName(name);
}

QtStepDriver::~QtStepDriver()
{
    stop();
}

void QtStepDriver::start(std::unique_ptr<StepJob> job, Done done, Ms firstWait, FirstWait firstWaitRule)
{
    stop();
    auto run = std::make_shared<Run>();
    run->job = std::move(job);
    run->firstWait = std::max(firstWait, Ms(0));
    run->keepFirstWait = firstWaitRule == FirstWait::KeptOnCancel;
    m_done = std::move(done);
    m_run = run;
    run->thread = std::thread([this, run] { work(run); });
}

void QtStepDriver::work(const std::shared_ptr<Run>& run)
{
    // GUI calls of the steps (boxes, questions) give up when the driver is stopped, so that
    // stop() never waits for a box nobody will answer.
    QtWorkerScope scope(run);

    // Waits between steps; false once stopped.
    auto pause = [&](Ms wait, bool keptOnCancel) {
        std::unique_lock lock(run->mutex);
        run->wait = wait;
        if (wait.count() > 0 && !run->released) {
            run->waiting = true;
            run->skipWait = false;
            if (m_clock) {
                lock.unlock();
                m_clock->sleep(wait);
                lock.lock();
            } else {
                run->wake.wait_until(lock, std::chrono::steady_clock::now() + wait, [&] {
                    return run->released || run->skipWait || (run->cancelled && !keptOnCancel);
                });
            }
            run->waiting = false;
            run->skipWait = false;
        }
        return !run->released;
    };

    StepResult result;
    bool ended = false;
    Ms wait = run->firstWait;
    bool kept = run->keepFirstWait;
    while (pause(wait, kept)) {
        result = run->job->step();
        {
            std::lock_guard lock(run->mutex);
            ++run->steps;
        }
        if (result.kind != StepResult::Kind::Again) {
            ended = true;
            break;
        }
        wait = result.after;
        kept = false;
    }

    // The job (and the port it may close) goes here, on the thread that drove it, before
    // the window hears of the end.
    std::unique_ptr<StepJob> job;
    {
        std::lock_guard lock(run->mutex);
        job = std::move(run->job);
    }
    job.reset();

    bool report;
    {
        std::lock_guard lock(run->mutex);
        report = ended && !run->released;
    }
    // The driver outlives this thread (stop() waits for `ended`), so posting to it is safe;
    // a stop that comes after the post makes finished() ignore it.
    if (report)
        QMetaObject::invokeMethod(this, [this, run, result] { finished(run, result); }, Qt::QueuedConnection);
    {
        std::lock_guard lock(run->mutex);
        run->ended = true;
    }
    run->wake.notify_all();
}

void QtStepDriver::finished(const std::shared_ptr<Run>& run, const StepResult& result)
{
    if (m_run != run)
        return; // stopped, or started afresh, after the worker posted its end
    m_run.reset();
    run->thread.join(); // it has posted its end: only its last lines are left
    Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(result);
}

void QtStepDriver::stepNow()
{
    if (!m_run)
        return;
    {
        std::lock_guard lock(m_run->mutex);
        if (!m_run->waiting)
            return;
        m_run->skipWait = true;
    }
    m_run->wake.notify_all();
}

void QtStepDriver::cancel()
{
    if (!m_run)
        return;
    {
        std::lock_guard lock(m_run->mutex);
        if (m_run->cancelled)
            return;
        m_run->cancelled = true;
        // Under the lock, so the worker cannot let the job go meanwhile; a job's cancel()
        // only sets its flag.
        if (m_run->job)
            m_run->job->cancel();
    }
    m_run->wake.notify_all();
}

void QtStepDriver::abort()
{
    if (!m_run)
        return;
    std::lock_guard lock(m_run->mutex);
    if (m_run->job)
        m_run->job->abort();
}

void QtStepDriver::stop()
{
    if (!m_run)
        return;
    std::shared_ptr<Run> run = std::move(m_run);
    m_done = nullptr;
    assert(run->thread.get_id() != std::this_thread::get_id() && "a step cannot stop its own driver");
    {
        std::lock_guard lock(run->mutex);
        run->released = true;
    }
    run->wake.notify_all();
    // A step in progress may be handing something to this thread (a value, a box it asked
    // for before the release): serve queued calls while it finishes, never a plain join.
    auto ended = [&] {
        std::lock_guard lock(run->mutex);
        return run->ended;
    };
    while (!QtClock::waitUntil(ended, std::chrono::hours(1))) {
    }
    run->thread.join();
}

bool QtStepDriver::waiting() const
{
    if (!m_run)
        return false;
    std::lock_guard lock(m_run->mutex);
    return m_run->waiting;
}

QtStepDriver::Ms QtStepDriver::currentWait() const
{
    if (!m_run)
        return Ms(0);
    std::lock_guard lock(m_run->mutex);
    return m_run->wait;
}

int QtStepDriver::stepsTaken() const
{
    if (!m_run)
        return 0;
    std::lock_guard lock(m_run->mutex);
    return m_run->steps;
}
