#include "cli/CliProgress.h"

#include "cli/JsonLine.h"

#include <cstdio>
#include <ostream>
#include <unistd.h>

using namespace std::chrono;

namespace {

constexpr int kBarWidth = 24;
// A terminal is redrawn at most this often; the last report (done == total) always is.
constexpr milliseconds kRedrawPeriod{100};

std::string rateText(double bytesPerSecond)
{
    char buffer[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(buffer, sizeof buffer, "%.1f MB/s", bytesPerSecond / (1024.0 * 1024.0));
    else if (bytesPerSecond >= 1024.0)
        std::snprintf(buffer, sizeof buffer, "%.1f kB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(buffer, sizeof buffer, "%.0f B/s", bytesPerSecond);
    return buffer;
}

std::string clockText(std::uint64_t seconds)
{
    char buffer[32];
    if (seconds >= 3600)
        std::snprintf(buffer, sizeof buffer, "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60));
    else
        std::snprintf(buffer, sizeof buffer, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
    return buffer;
}

} // namespace

CliProgress::Mode CliProgress::modeFor(bool json)
{
    if (json)
        return Mode::Json;
    return ::isatty(STDERR_FILENO) ? Mode::Bar : Mode::Silent;
}

CliProgress::CliProgress(Mode mode, std::ostream& out, Now now)
    : m_mode(mode), m_out(out), m_now(now ? std::move(now) : Now([] { return steady_clock::now(); }))
{
}

CliProgress::~CliProgress() { finish(); }

void CliProgress::finish()
{
    std::lock_guard lock(m_mutex);
    if (m_lineOpen) {
        m_out << "\n" << std::flush;
        m_lineOpen = false;
    }
}

std::string CliProgress::jsonLine(const ProgressReport& p)
{
    return toJsonLine({{"progress", {{"done", p.done}, {"total", p.total}, {"text", p.text}}}});
}

std::string CliProgress::barLine(const ProgressReport& p, milliseconds elapsed, std::uint64_t doneAtStart)
{
    std::string line;
    if (p.total > 0) {
        std::uint64_t done = std::min(p.done, p.total);
        int filled = static_cast<int>(done * kBarWidth / p.total);
        line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
        char percent[8];
        std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(done * 100 / p.total));
        line += percent;
    } else {
        line = std::to_string(p.done) + " bytes";
    }
    // The rate counts what moved since timing began, so a job that resumes does not look
    // faster than the line is.
    std::uint64_t moved = p.done > doneAtStart ? p.done - doneAtStart : 0;
    if (elapsed.count() > 0 && moved > 0) {
        double rate = static_cast<double>(moved) * 1000.0 / static_cast<double>(elapsed.count());
        line += "  " + rateText(rate);
        if (p.total > p.done)
            line += "  " + clockText(static_cast<std::uint64_t>(static_cast<double>(p.total - p.done) / rate + 0.5)) +
                    " left";
    }
    if (!p.text.empty())
        line += "  " + p.text;
    return line;
}

void CliProgress::report(const ProgressReport& p)
{
    if (m_mode == Mode::Silent)
        return;
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Json) {
        m_out << jsonLine(p) << "\n" << std::flush;
        return;
    }
    auto now = m_now();
    if (!m_started) {
        m_started = true;
        m_start = now;
        m_doneAtStart = p.done;
    }
    bool last = p.total > 0 && p.done >= p.total;
    if (m_lineOpen && !last && now - m_lastDraw < kRedrawPeriod)
        return;
    m_lastDraw = now;
    // \r and erase-to-end: a shorter line leaves nothing of the longer one before it.
    m_out << "\r" << barLine(p, duration_cast<milliseconds>(now - m_start), m_doneAtStart) << "\x1b[K" << std::flush;
    m_lineOpen = true;
    if (last) {
        m_out << "\n" << std::flush;
        m_lineOpen = false;
    }
}
