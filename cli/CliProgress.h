#pragma once
// tavroctl's progress display. With --json every report is one JSON line on stderr (stdout
// keeps the command's one result); otherwise a bar with percentage, rate and time left is
// redrawn in place on stderr when stderr is a terminal, and nothing is shown when it is not
// (a script's log stays clean).
#include "app/Progress.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <mutex>

class CliProgress final : public ProgressSink {
public:
    using Now = std::function<std::chrono::steady_clock::time_point()>;
    enum class Mode { Silent, Bar, Json };

    // The mode for tavroctl's options: Json with --json, Bar when stderr is a terminal,
    // Silent otherwise.
    static Mode modeFor(bool json);

    // out: where the bar or the JSON lines go (std::cerr in tavroctl). now: the time source
    // for the rate (steady_clock by default; tests pass their own).
    CliProgress(Mode mode, std::ostream& out, Now now = {});
    // Ends a bar that is still drawn with a newline.
    ~CliProgress() override;

    // Any thread; reports are shown in the order they arrive.
    void report(const ProgressReport& progress) override;
    // Ends the bar line (a message after the progress then starts on its own line).
    void finish();

    // The bar line for a report: "[#########-----------]  45%  12.5 kB/s  0:07 left  text".
    // elapsed: time since the first report with done > 0 was seen.
    static std::string barLine(const ProgressReport& progress, std::chrono::milliseconds elapsed,
                               std::uint64_t doneAtStart);
    static std::string jsonLine(const ProgressReport& progress);

private:
    const Mode m_mode;
    std::ostream& m_out;
    Now m_now;
    std::mutex m_mutex;
    bool m_started = false;
    bool m_lineOpen = false;
    std::uint64_t m_doneAtStart = 0;
    std::chrono::steady_clock::time_point m_start{};
    std::chrono::steady_clock::time_point m_lastDraw{};
};
