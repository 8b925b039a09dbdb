#pragma once
// Printing pictures the printer already holds, the top/bottom logo settings frame and the
// sample receipt.
//
// LogoPrintJob is a StepJob: the connection opened as its kind needs, then one picture every
// 300 ms (optional header line, FS p n m), and 1000 ms after the last one the port closed.
// "All" prints images 1..255: the printer skips numbers it does not hold.
//
// sendLogoSettings and sendSampleReceipt are single actions; on a USB printer they wait for
// the restart the printer makes after them and reopen the port (every wait on the Clock).
//
// Threads: the driver's thread only, but LogoPrintJob::cancel(), which any thread may call (an
// atomic flag, read at the next step).
#include "app/CancelToken.h"
#include "app/StepJob.h"
#include "app/WeightedProgress.h"
#include "logo/LogoFrames.h"
#include "logo/LogoLink.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct LogoPrintRequest {
    // Empty: "All" (1..255). Otherwise the numbers of a parsed selection, in order.
    std::vector<int> numbers;
    logo_frames::PrintMode mode = logo_frames::PrintMode::Normal;
    bool header = false;
    bool starEmulation = false;
};

class LogoPrintJob final : public StepJob {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kPace{300};     // one picture per tick: the printer prints it meanwhile
    static constexpr Ms kEndWait{1000}; // the last picture leaves the printer before the close
    static constexpr int kAllCount = 255;
    // The bar's steps, weighted by the time each takes in tenths of a second: the opening
    // with its printer check (up to half a second for the answer), one pace per picture, the
    // end wait. The bar is full only once the port is closed.
    enum ProgressStep : std::size_t { kProgressOpen = 0, kProgressPictures = 1, kProgressEnd = 2 };
    static std::vector<uint64_t> progressWeights(int count)
    {
        return {5, 3 * uint64_t(count > 0 ? count : 0), 10};
    }

    enum class Outcome { Running, Finished, Cancelled, Failed };

    LogoPrintJob(LogoEngineDeps deps, LogoPrintRequest request);

    StepResult step() override;
    // Cancel stops after the picture being printed; abort() cuts a write the printer does not take.
    void cancel() override { m_cancelRequested = true; }
    void abort() override
    {
        m_cancelRequested = true;
        m_ownToken.cancel();
    }

    Outcome outcome() const { return m_outcome; }
    int printed() const { return m_printed; }
    int count() const { return m_count; }

private:
    enum class Phase { Begin, Printing, Closing, Done };
    StepResult fail(const std::string& reason);

    LogoEngineDeps m_deps;
    LogoPrintRequest m_request;
    Phase m_phase = Phase::Begin;
    Outcome m_outcome = Outcome::Running;
    std::atomic<bool> m_cancelRequested{false};
    CancelToken m_ownToken; // lent to the connection during a step when the caller lent none
    int m_count = 0;
    int m_printed = 0;
    WeightedProgress m_progress;
    std::string m_lastText;
};

struct LogoActionResult {
    bool ok = false;
    std::string message; // why it failed
    // The printer was written to but a USB printer did not come back after its restart.
    std::string warning;
};

// Sends the 12-byte frame: LPT open + frame; network open + frame + 500 ms + close; COM, USB
// and FILE open + ESC @ + frame. Then a USB printer's restart is waited for.
LogoActionResult sendLogoSettings(LogoEngineDeps deps, const logo_frames::LogoSettingsValues& values);
// The same for the sample receipt instead of the frame.
LogoActionResult sendSampleReceipt(LogoEngineDeps deps);
