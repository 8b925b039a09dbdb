#pragma once
// The printer's event log: one JSON object per line and command received, appended to
// <state>/events.jsonl (flushed at once, so that a test sees it while the printer runs) and
// echoed on stdout, as text or as the same JSON line.
//
// stdout is written without blocking: a parent that has stopped reading after READY must not
// stall the printer, so a line that does not fit is dropped from stdout (never from the file).
#include "sim/SimEvent.h"

#include <chrono>
#include <cstdio>
#include <string>

class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Opens (appends to) the file; "" keeps the log on stdout only. Returns false with a reason.
    bool open(const std::string& path, std::string* error);
    void setEcho(bool echo, bool json)
    {
        m_echo = echo;
        m_json = json;
    }
    void log(const std::string& via, const SimEvent& e);
    long count() const { return m_seq; }
    // One printer of a fleet: its lines carry "printer":k (JSON) or "#k" (text). 0: none.
    void setPrinter(int index) { m_printer = index; }

    // Writes a line to stdout without blocking; false when it was dropped.
    static bool writeStdout(const std::string& line);

private:
    std::FILE* m_file = nullptr;
    bool m_echo = true;
    bool m_json = false;
    long m_seq = 0;
    int m_printer = 0;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};
