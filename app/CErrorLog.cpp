#include "app/CErrorLog.h"

#include "app/Clock.h"

#include <algorithm>
#include <cstdarg>

CErrorLog::CErrorLog(Clock* clock) : m_clock(clock ? *clock : SystemClock::instance()) {}

CErrorLog::~CErrorLog()
{
    Close();
}

bool CErrorLog::Open(const std::string& fileName)
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(fileName.c_str(), "wb");
    if (m_file)
        std::setvbuf(m_file, nullptr, _IONBF, 0); // every line reaches the file at once
    return m_file != nullptr;
}

void CErrorLog::Close()
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

bool CErrorLog::IsOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_file != nullptr;
}

void CErrorLog::WriteLog(const char* format, ...)
{
    std::lock_guard lock(m_mutex);
    if (!m_file)
        return;
    // One 256-character buffer, as the log has always used: longer messages are cut.
    char buffer[256];
    LocalTime t = m_clock.localTime();
    int n = std::snprintf(buffer, sizeof buffer, "[%04d/%02d/%02d %02d:%02d:%02d] ", t.year, t.month,
                          t.day, t.hour, t.minute, t.second);
    if (n > 0)
        std::fwrite(buffer, 1, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1), m_file);

    va_list args;
    va_start(args, format);
    n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0)
        std::fwrite(buffer, 1, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1), m_file);
    std::fwrite("\r\n", 1, 2, m_file);
}

CErrorLog& theErrorLog()
{
    static CErrorLog log;
    return log;
}
