#include "qthost/QtProgressSink.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <mutex>
#include <optional>

struct QtProgressSink::Shared {
    explicit Shared(Show s) : show(std::move(s)) {}
    std::mutex mutex;
    std::optional<ProgressReport> pending; // guarded by mutex
    bool gone = false;                     // guarded by mutex
    const Show show;

    // GUI thread: shows what is pending, if anything.
    void deliver()
    {
        std::optional<ProgressReport> p;
        {
            std::lock_guard lock(mutex);
            if (gone)
                return;
            p.swap(pending);
        }
        if (p)
            show(*p);
    }
};

QtProgressSink::QtProgressSink(QObject* context, Show show)
    : m_context(context), m_shared(std::make_shared<Shared>(std::move(show)))
{
}

QtProgressSink::~QtProgressSink()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->gone = true;
}

void QtProgressSink::report(const ProgressReport& progress)
{
    if (QThread::currentThread() == m_context->thread()) {
        {
            // A worker's report still on its way is older than this one.
            std::lock_guard lock(m_shared->mutex);
            m_shared->pending.reset();
        }
        m_shared->show(progress);
        return;
    }
    bool post = false;
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->gone)
            return;
        if (m_shared->pending) {
            ProgressReport& p = *m_shared->pending;
            p.done = progress.done;
            p.total = progress.total;
            if (!progress.text.empty())
                p.text = progress.text;
        } else {
            m_shared->pending = progress;
            post = true;
        }
    }
    if (post)
        QMetaObject::invokeMethod(m_context, [shared = m_shared] { shared->deliver(); }, Qt::QueuedConnection);
}
