#include "qthost/QtStepDriver.h"

#include "app/Clock.h"

#include <QTimer>

QtStepDriver::QtStepDriver(QObject* parent, const QString& timerName, Clock* clock)
    : QObject(parent), m_timer(new QTimer(this)), m_clock(clock)
{
    m_timer->setObjectName(timerName);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &QtStepDriver::stepNow);
}

QtStepDriver::~QtStepDriver() = default;

void QtStepDriver::start(std::unique_ptr<StepJob> job, Done done, std::chrono::milliseconds firstWait)
{
    stop();
    m_job = std::move(job);
    m_done = std::move(done);
    m_cancelled = false;
    if (firstWait.count() > 0 || m_inStep)
        m_timer->start(static_cast<int>(firstWait.count()));
    else
        stepNow();
}

void QtStepDriver::stepNow()
{
    if (m_inStep)
        return; // a nested event loop inside the step; the step in progress goes on
    m_timer->stop();
    if (!m_job)
        return;
    std::shared_ptr<StepJob> job = m_job;
    m_inStep = true;
    StepResult r = job->step();
    m_inStep = false;
    if (m_job != job)
        return; // stopped (or started afresh) during the step
    if (r.kind == StepResult::Kind::Again) {
        if (m_cancelled)
            r.after = {}; // a Cancel heard during the step is served now, not after the pause
        if (m_clock && r.after.count() > 0) {
            m_inStep = true; // the wait belongs to the step: the timer stays quiet meanwhile
            m_clock->sleep(r.after);
            m_inStep = false;
            if (m_job != job)
                return; // stopped while the clock served events
            m_timer->start(0);
            return;
        }
        m_timer->start(static_cast<int>(r.after.count()));
        return;
    }
    Done done = std::move(m_done);
    m_job.reset();
    m_done = nullptr;
    job.reset(); // the job (and the port it may close) is gone before done runs
    if (done)
        done(r);
}

void QtStepDriver::stop()
{
    m_timer->stop();
    m_job.reset();
    m_done = nullptr;
}

void QtStepDriver::cancel()
{
    if (!m_job || m_cancelled)
        return;
    m_cancelled = true;
    m_job->cancel();
    if (!m_inStep)
        m_timer->start(0);
}
