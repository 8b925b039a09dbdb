#pragma once
// A Win32-style event: manual reset (stays set until reset) or auto reset (one waiter
// takes it and it resets).
#include <chrono>
#include <condition_variable>
#include <mutex>

class Event {
public:
    enum class Reset { Manual, Auto };
    explicit Event(Reset mode = Reset::Manual, bool initiallySet = false)
        : m_mode(mode), m_set(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Waits until the event is set; false when the time ran out.
    bool wait(std::chrono::milliseconds timeout);
    void wait();

private:
    const Reset m_mode;
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_set;
};
