#pragma once
// The logo tool's printer actions, whole, for every front end: upload the bitmap list into the
// printer's NV memory (or clear it), print stored pictures, send the top/bottom logo settings
// or the sample receipt, and the printer check of the Advanced page. The desktop pages and
// `tavroctl logo ...` say what the user wants and show the LogoReport; everything about the
// connection (making it, how it is opened, its checks, its cancel token) happens here and in
// the engines below (NvUpload, LogoPrintJob, sendLogoSettings), which ask the connection's
// traits.
//
// Messages the user must see on the way (questions, "ERROR : Port open.", the completion
// box) go to the Prompter as the catalog has them; the report carries the reason again for
// the status line, the CLI and the error log.
//
// Threads: any one thread per call. The Prompter must be usable from it; the timed actions
// (upload, print) are driven by `drive`, which may run their steps on another thread.
#include "app/CancelToken.h"
#include "app/ConnectionRules.h"
#include "app/Progress.h"
#include "app/StepJob.h"
#include "logo/LogoFrames.h"
#include "logo/LogoOptions.h"
#include "logo/LogoPrint.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class BitmapList;
struct PreparedLogos;
class CErrorLog;
class Clock;
class PrinterConnection;
class Profile;
class Prompter;

namespace logo_tool {

// Makes a closed connection for the settings; null when no connection can use them.
using ConnectionFactory = std::function<std::unique_ptr<PrinterConnection>(const ConnectionSettings&)>;
// Drives a timed job to its end and returns its last result (Finished or Failed).
using JobDriver = std::function<StepResult(StepJob&)>;

// What every action is given by its front end.
struct LogoToolDeps {
    // Where the printer is (m_PortName, the line settings, the model family).
    ConnectionSettings settings;
    ConnectionFactory connect;
    Clock& clock;
    Prompter& prompter;
    CErrorLog& log;
    ProgressSink& progress;
    // Ctrl-C or the window's stop: lent to the connection for the action when the factory
    // lent none, so a write the printer does not take ends at once. Null: nothing cancels
    // but the timed jobs' own Cancel.
    const CancelToken* cancel = nullptr;
    // Empty: runStepJob on `clock`, cancelled once `cancel` is.
    JobDriver drive;
};

enum class LogoOutcome {
    Done,
    Declined, // the user said No (or the small-memory notice): nothing sent
    Cancelled,
    Failed,
    // The factory made no connection for the settings: nothing was sent, nothing shown (the
    // front end says so as it always has).
    NotConnected,
};

struct LogoReport {
    LogoOutcome outcome = LogoOutcome::Failed;
    // Failed: why, with context. Done: a warning (the logo log not written, a USB printer
    // that did not come back after its restart), else empty.
    std::string message;
    // Upload and clear: what the printer's NV memory holds now, in one sentence.
    std::string printerHolds;
    // The same sentence in Korean (the desktop tool's Korean status line).
    std::string printerHoldsKorean;
    // Pictures uploaded or printed.
    int pictures = 0;
    // Upload: raster bytes the connection reported written.
    std::uint64_t bytes = 0;

    bool done() const { return outcome == LogoOutcome::Done; }
};

// The NV upload of the list's pictures in ascending image number (the rows' auto-centre flags
// from `options`); the TAVRO36/38 notice and the question first. `profile` receives the logo
// log on success (null: none written); `previousLogCount` log keys of an earlier, longer list
// are deleted. An empty list fails; clearing is clearLogos().
LogoReport uploadLogos(const LogoToolDeps& deps, const BitmapList& list, const LogoOptions& options,
                       Profile* profile, int previousLogCount);
// The same upload of pictures prepared beforehand (one conversion for many printers); no logo
// log is written.
LogoReport uploadPreparedLogos(const LogoToolDeps& deps, const PreparedLogos& logos);

// The clear: `askFirst` asks the question, then FS q 1 with one empty picture.
LogoReport clearLogos(const LogoToolDeps& deps, bool askFirst = true);

// Prints stored pictures: one every 300 ms, all 255 numbers for an empty selection.
LogoReport printLogos(const LogoToolDeps& deps, const LogoPrintRequest& request);

// The top/bottom logo settings frame, then a USB printer's restart.
LogoReport setLogoSettings(const LogoToolDeps& deps, const logo_frames::LogoSettingsValues& values);

// The sample receipt that shows the top and bottom logos.
LogoReport printSampleReceipt(const LogoToolDeps& deps);

// The Advanced page's look at the printer: ESC @ and the printer check with one answer byte
// awaited up to a second where the connection takes them (a capture gets them written); a
// connection without them is opened and closed; one opened per action is left alone (Done,
// with a note in `message`).
// Failures are shown as "ERROR : Port open.", "ERROR : Write to port.", "ERROR : Comm." (hung
// up) or "ERROR : Receive data.".
LogoReport checkPrinter(const LogoToolDeps& deps);

// The factory, showing "ERROR : Port open." when it makes no connection (the desktop pages'
// way of saying so; tavroctl prints its own line).
ConnectionFactory sayingPortOpenFailed(ConnectionFactory factory, Prompter& prompter);

// The Print button's rule: printing needs a printer that can answer (not an output file).
bool canPrint(const ConnectionSettings& settings);
// The bytes go into an output file (the pages then say "To File").
bool writesToFile(const ConnectionSettings& settings);

} // namespace logo_tool
