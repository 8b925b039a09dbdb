#include "qthost/QtMessageTarget.h"

#include <QMetaObject>
#include <QThread>

#include <memory>

QtMessageTarget::QtMessageTarget(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler))
{
}

QtMessageTarget::~QtMessageTarget()
{
    detach();
}

void QtMessageTarget::detach()
{
    std::lock_guard lock(m_mutex);
    m_detached = true;
    ++m_generation;
    m_cond.notify_all();
}

void QtMessageTarget::attach()
{
    std::lock_guard lock(m_mutex);
    m_detached = false;
}

bool QtMessageTarget::attached() const
{
    std::lock_guard lock(m_mutex);
    return !m_detached;
}

long QtMessageTarget::SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (QThread::currentThread() == thread()) {
        {
            std::lock_guard lock(m_mutex);
            if (m_detached)
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
        std::lock_guard lock(m_mutex);
        if (m_detached)
            return 0;
        generation = m_generation;
    }
    // The posted call holds only the shared state, so it is harmless when it runs after the
    // worker gave up waiting; Qt drops it when this object is destroyed first.
    QMetaObject::invokeMethod(
        this,
        [this, call, generation, msg, wParam, lParam] {
            {
                std::lock_guard lock(m_mutex);
                if (m_detached || m_generation != generation)
                    return;
            }
            long result = m_handler(msg, wParam, lParam);
            std::lock_guard lock(m_mutex);
            call->result = result;
            call->done = true;
            m_cond.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_cond.wait(lock, [&] { return call->done || m_generation != generation; });
    return call->done ? call->result : 0;
}
