#pragma once
// A clock that does not wait: sleep() records the delay and moves the clock forward, so
// engines that wait for a deadline see it pass at once.
#include "app/Clock.h"

#include <atomic>
#include <mutex>
#include <vector>

class TestClock final : public Clock {
public:
    std::chrono::steady_clock::time_point now() override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    LocalTime localTime() override
    {
        std::lock_guard lock(m_mutex);
        return m_local;
    }
    void sleep(Ms delay) override
    {
        std::lock_guard lock(m_mutex);
        m_sleeps.push_back(delay);
        m_now += delay;
    }

    void setLocalTime(LocalTime t)
    {
        std::lock_guard lock(m_mutex);
        m_local = t;
    }
    void advance(Ms delay)
    {
        std::lock_guard lock(m_mutex);
        m_now += delay;
    }
    std::vector<Ms> sleeps() const
    {
        std::lock_guard lock(m_mutex);
        return m_sleeps;
    }
    Ms totalSlept() const
    {
        std::lock_guard lock(m_mutex);
        Ms total{0};
        for (auto s : m_sleeps)
            total += s;
        return total;
    }
    void clearSleeps()
    {
        std::lock_guard lock(m_mutex);
        m_sleeps.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_now{std::chrono::hours(1)};
    LocalTime m_local{2014, 3, 7, 9, 5, 3};
    std::vector<Ms> m_sleeps;
};
