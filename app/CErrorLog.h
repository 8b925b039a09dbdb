#pragma once
// "error.log": time-stamped diagnostic lines for service staff, never shown to the user.
#include <cstdio>
#include <mutex>
#include <string>

class Clock;

class CErrorLog {
public:
    // The stamps come from the clock (the system clock when none is given).
    explicit CErrorLog(Clock* clock = nullptr);
    virtual ~CErrorLog();
    CErrorLog(const CErrorLog&) = delete;
    CErrorLog& operator=(const CErrorLog&) = delete;

    // Creates the file, or empties it when it exists. False when it cannot be created:
    // logging is then off until the next successful Open.
    bool Open(const std::string& fileName);
    void Close();
    bool IsOpen() const;

    // Writes "[YYYY/MM/DD hh:mm:ss] ", the formatted message cut to 255 characters, then
    // "\r\n". Does nothing while the log is not open. Any thread may call it.
    void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    Clock& m_clock;
    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
};

// The process-wide log that the tools and the port layer write to.
CErrorLog& theErrorLog();
