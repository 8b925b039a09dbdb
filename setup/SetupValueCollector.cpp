#include "setup/SetupValueCollector.h"

#include "setup/SetupSession.h"

void SetupValueCollector::Attach(SetupSession* session)
{
    std::lock_guard lock(m_mutex);
    m_session = session;
}

long SetupValueCollector::SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (msg != WM_SETUP_VALUE)
        return 0;
    {
        // Held across the hand-over, so that Attach(nullptr) waits for a value in progress
        // before the host lets the session go.
        std::lock_guard lock(m_mutex);
        if (!m_session)
            return 0;
        bool shown = m_session->OnSetupValue(m_form, wParam, lParam);
        int n = static_cast<int>(wParam);
        m_answered.insert(n);
        if (shown)
            m_shown.insert(n);
        else
            m_shown.erase(n);
        ++m_notifications;
    }
    m_changed.notify_all();
    return 1;
}

SetupOptions SetupValueCollector::Form() const
{
    std::lock_guard lock(m_mutex);
    return m_form;
}

void SetupValueCollector::SetForm(const SetupOptions& form)
{
    std::lock_guard lock(m_mutex);
    m_form = form;
}

std::set<int> SetupValueCollector::Answered() const
{
    std::lock_guard lock(m_mutex);
    return m_answered;
}

std::set<int> SetupValueCollector::Shown() const
{
    std::lock_guard lock(m_mutex);
    return m_shown;
}

void SetupValueCollector::Reset()
{
    std::lock_guard lock(m_mutex);
    m_answered.clear();
    m_shown.clear();
}

int SetupValueCollector::Notifications() const
{
    std::lock_guard lock(m_mutex);
    return m_notifications;
}

bool SetupValueCollector::allAnswered(const std::vector<std::uint8_t>& wanted) const
{
    for (auto n : wanted)
        if (!m_answered.count(n))
            return false;
    return true;
}

bool SetupValueCollector::WaitFor(const std::vector<std::uint8_t>& wanted, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return allAnswered(wanted); });
}

void SetupValueCollector::WaitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    for (;;) {
        int seen = m_notifications;
        auto until = std::min(deadline, std::chrono::steady_clock::now() + quiet);
        m_changed.wait_until(lock, until, [&] { return m_notifications != seen; });
        if (m_notifications == seen || std::chrono::steady_clock::now() >= deadline)
            return;
    }
}
