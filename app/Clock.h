#pragma once
// Time for the engines: the real clock sleeps (the desktop tool's keeps painting while it
// waits), the test clock records the requested delays and returns at once.
#include <chrono>

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Clock {
public:
    using Ms = std::chrono::milliseconds;
    virtual ~Clock() = default;
    // Monotonic time, for deadlines.
    virtual std::chrono::steady_clock::time_point now() = 0;
    // The wall-clock time of day, for log stamps.
    virtual LocalTime localTime() = 0;
    // Waits the given time. Any thread may call it.
    virtual void sleep(Ms delay) = 0;
};

class SystemClock : public Clock {
public:
    std::chrono::steady_clock::time_point now() override;
    LocalTime localTime() override;
    void sleep(Ms delay) override;
    // The process-wide real clock.
    static SystemClock& instance();
};
