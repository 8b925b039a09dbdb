#include "app/Event.h"

void Event::set()
{
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    if (m_mode == Reset::Manual)
        m_cond.notify_all();
    else
        m_cond.notify_one();
}

void Event::reset()
{
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool Event::isSet() const
{
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool Event::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_cond.wait_for(lock, timeout, [this] { return m_set; }))
        return false;
    if (m_mode == Reset::Auto)
        m_set = false;
    return true;
}

void Event::wait()
{
    std::unique_lock lock(m_mutex);
    m_cond.wait(lock, [this] { return m_set; });
    if (m_mode == Reset::Auto)
        m_set = false;
}
