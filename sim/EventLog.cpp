#include "sim/EventLog.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

EventLog::~EventLog()
{
    if (m_file)
        std::fclose(m_file);
}

bool EventLog::open(const std::string& path, std::string* error)
{
    if (path.empty())
        return true;
    m_file = std::fopen(path.c_str(), "ae");
    if (!m_file) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool EventLog::writeStdout(const std::string& line)
{
    pollfd pfd{STDOUT_FILENO, POLLOUT, 0};
    if (::poll(&pfd, 1, 0) != 1 || !(pfd.revents & POLLOUT))
        return false;
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

void EventLog::log(const std::string& via, const SimEvent& e)
{
    ++m_seq;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count();
    std::vector<std::pair<std::string, SimEvent::Json>> prefix{{"seq", m_seq}, {"t", ms}};
    if (m_printer > 0)
        prefix.emplace_back("printer", m_printer);
    prefix.emplace_back("via", SimEvent::latin1(via));
    std::string json = e.toJson(prefix);
    if (m_file) {
        std::fputs(json.c_str(), m_file);
        std::fputc('\n', m_file);
        std::fflush(m_file);
    }
    if (m_echo)
        writeStdout((m_json ? json : "[" + via + (m_printer > 0 ? " #" + std::to_string(m_printer) : "") + "] " + e.toText()) + "\n");
}
