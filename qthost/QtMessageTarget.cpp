#include "qthost/QtMessageTarget.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

struct QtMessageTarget::Shared {
    std::mutex mutex;
    std::condition_variable cond;
    bool detached = false;
    // Bumped by each detach so that a waiter from before the detach is released even when
    // attach() follows at once.
    unsigned generation = 0;
};

QtMessageTarget::QtMessageTarget(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_shared(std::make_shared<Shared>())
{
}

QtMessageTarget::~QtMessageTarget()
{
    detach();
}

void QtMessageTarget::detach()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->detached = true;
        ++m_shared->generation;
    }
    m_shared->cond.notify_all();
}

void QtMessageTarget::attach()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->detached = false;
}

bool QtMessageTarget::attached() const
{
    std::lock_guard lock(m_shared->mutex);
    return !m_shared->detached;
}

long QtMessageTarget::SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    // The worker keeps the shared state alive for its whole wait; `this` is only touched on
    // the GUI thread, by a posted call that Qt drops once the object is gone.
    std::shared_ptr<Shared> shared = m_shared;
    if (QThread::currentThread() == thread()) {
        {
            std::lock_guard lock(shared->mutex);
            if (shared->detached)
                return 0;
        }
        return m_handler(msg, wParam, lParam);
    }

    struct Call {
        bool done = false;
        long result = 0;
    };
    auto call = std::make_shared<Call>();
    unsigned generation;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->detached)
            return 0;
        generation = shared->generation;
    }
    QMetaObject::invokeMethod(
        this,
        [this, shared, call, generation, msg, wParam, lParam] {
            {
                std::lock_guard lock(shared->mutex);
                if (shared->detached || shared->generation != generation)
                    return;
            }
            long result = m_handler(msg, wParam, lParam);
            {
                std::lock_guard lock(shared->mutex);
                call->result = result;
                call->done = true;
            }
            shared->cond.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shared->mutex);
    shared->cond.wait(lock, [&] { return call->done || shared->generation != generation; });
    return call->done ? call->result : 0;
}
