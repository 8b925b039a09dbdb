#include "qthost/QtGuiCall.h"

#include "qthost/QtClock.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

thread_local std::shared_ptr<QtWorkerRelease> t_release;

} // namespace

QtWorkerScope::QtWorkerScope(std::shared_ptr<QtWorkerRelease> release) : m_previous(std::move(t_release))
{
    t_release = std::move(release);
}

QtWorkerScope::~QtWorkerScope()
{
    t_release = std::move(m_previous);
}

bool onGuiThread()
{
    auto* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

bool callOnGuiThread(std::function<void()> fn)
{
    if (onGuiThread()) {
        fn();
        return true;
    }
    // A worker nobody can release still gets its own wake-up, so the wait is the same.
    std::shared_ptr<QtWorkerRelease> release = t_release ? t_release : std::make_shared<QtWorkerRelease>();
    struct Call {
        bool done = false;      // guarded by release->mutex
        bool abandoned = false; // guarded by release->mutex
    };
    auto call = std::make_shared<Call>();
    {
        std::lock_guard lock(release->mutex);
        if (release->released)
            return false;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [release, call, fn = std::move(fn)] {
            {
                std::lock_guard lock(release->mutex);
                if (call->abandoned)
                    return; // the worker has gone on; a box nobody waits for is not shown
            }
            fn();
            {
                std::lock_guard lock(release->mutex);
                call->done = true;
            }
            release->wake.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(release->mutex);
    release->wake.wait(lock, [&] { return call->done || release->released; });
    if (!call->done)
        call->abandoned = true;
    return call->done;
}

void runOnWorker(const std::function<void()>& work)
{
    std::atomic<bool> ended{false};
    std::thread worker([&] {
        work();
        ended = true;
    });
    // No time limit: the work is bounded by its own deadlines, and the thread must not be
    // left running over this frame's locals.
    while (!QtClock::waitUntil([&] { return ended.load(); }, std::chrono::hours(1))) {
    }
    worker.join();
}
