#include "app/Clock.h"

#include <ctime>
#include <thread>

std::chrono::steady_clock::time_point SystemClock::now()
{
    return std::chrono::steady_clock::now();
}

LocalTime SystemClock::localTime()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void SystemClock::sleep(Ms delay)
{
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
}

SystemClock& SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}
