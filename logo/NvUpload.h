#pragma once
// The NV bit-image upload and the clear: replaces everything the printer holds in its NV
// bit-image memory with the pictures of the bitmap list, in ascending image number.
//
// Sequence: the TAVRO36/38 128 KB notice, the question, every picture converted (a file that
// no longer loads stops the upload here, before the printer's memory is touched), the
// connection opened as its kind needs, FS q n, 3500 ms while the printer erases, then one
// picture per step (header, raster in 512-byte blocks with 10 ms after each), and after the
// last picture the logo log (keys 1..N, stale keys deleted). Cancel completes the open
// definition with empty pictures, so the printer is never left waiting for picture data, and
// the log then names the pictures sent whole.
//
// The upload is a StepJob: the dialog drives it on a worker thread, the CLI and the tests with
// runStepJob on a Clock. Messages go to the Prompter as the catalog has them; the failure
// reasons also come back in the StepResult for the CLI.
//
// A write that the connection's cancel token cuts short (Outcome::Cancelled) moves the job to
// its cancel path at once, whatever step it is in: the rest of a picture cut mid-way is sent
// as zeros (blank) before the empty pictures, so that the definition is complete whatever
// part of the cut write reached the printer (surplus NULs after it are ignored).
//
// Threads: step() and the getters on the driver's thread only (the getters after the job has
// ended); cancel() from any thread (an atomic flag, read at the next step).
#include "app/CancelToken.h"
#include "app/StepJob.h"
#include "app/WeightedProgress.h"
#include "logo/LogoLink.h"
#include "logo/LogoOptions.h"
#include "logo/LogoPicture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class BitmapList;
class Profile;

class NvUpload final : public StepJob {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kEraseWait{3500};  // the printer erases its NV memory after FS q n
    static constexpr Ms kBlockPause{10};   // after every block: the printer writes it to NV
    static constexpr Ms kStepPause{10};    // between pictures
    static constexpr std::size_t kBlockSize = 512;
    // After the padding that completes a cancelled definition the printer writes what it got
    // and is deaf meanwhile. Its worst case is the erase of the whole NV memory it did at
    // FS q n, so we give it as long as that before the port is closed.
    static constexpr Ms kCancelWait{3500};
    // The padding after a cancel is written without the job's (already cancelled) token, but
    // the printer must keep taking it: one that takes no byte for this long has stopped
    // reading (flow control held, stalled), and Ctrl-C must not wait for the 15 s stall bound.
    // A printer that is only busy writing its last block to NV pauses for tens of ms.
    static constexpr Ms kPaddingStall{2000};
    // The TAVRO36/38 hold 128 KB of NV graphics, less than the list's budget.
    static constexpr ModelFamily kSmallNvFamily = kFamilyTavro36;
    static constexpr int kSmallNvKB = 128;
    // Shown (Information, "Notice") when a list for them is larger than that.
    static constexpr const char* kSmallNvNotice = "TAVRO36/38 NV graphic memory size is 128Kbytes.";
    // The notice in the message catalog's language.
    static const char* smallNvNotice();

    // The bar's steps: the printer's erase, the raster bytes the connection wrote, and the
    // end (the logo log and the close). The bytes weigh one unit each, so the bar moves with
    // them; the erase and the end get a share of their own so that the bar neither sits at 0
    // through the transfer's last blocks nor shows 100 % before the printer has it all.
    enum ProgressStep : std::size_t { kProgressErase = 0, kProgressBlocks = 1, kProgressEnd = 2 };
    static std::vector<uint64_t> progressWeights(uint64_t rasterBytes)
    {
        return {std::max<uint64_t>(rasterBytes / 8, 1), rasterBytes, std::max<uint64_t>(rasterBytes / 32, 1)};
    }

    enum class Outcome {
        Running,
        Declined,  // the notice, or No to the question: nothing sent
        Completed, // every picture sent, logo log written (see logWarning())
        Cancelled, // padded: the printer holds pictures 1..picturesSent(), the rest are empty;
                   // the logo log names those pictures (see logWarning())
        Failed,    // see the StepResult message; the logo log is untouched
    };

    // One picture of the upload, in upload order.
    struct Item {
        std::string path;
        std::string name;
        bool autoCenter = false;
    };

    // `items` in upload order (image numbers 1..N); `profile` receives the logo log (none: no
    // log is written); `previousLogCount` is the number of log keys the last upload of this
    // run wrote, or that the list read, so that stale keys can be deleted.
    NvUpload(LogoEngineDeps deps, std::vector<Item> items, const LogoOptions& options, ModelFamily modelFamily,
             uint64_t predictedTotalBytes, Profile* profile, int previousLogCount);
    // The list's pictures in ascending image number with their rows' auto-centre flags.
    static std::vector<Item> itemsOf(const BitmapList& list, const LogoOptions& options);
    // Every item read and converted with the options, in order. Failure: "cannot convert
    // PATH: reason". Any thread.
    static Result<std::vector<LogoPicture>> convert(const std::vector<Item>& items, const LogoOptions& options);
    // Pictures converted beforehand from the same items and options (one conversion for many
    // printers; the set is only read): the upload then reads and converts nothing. Call
    // before the job runs.
    void usePictures(std::shared_ptr<const std::vector<LogoPicture>> pictures) { m_pictures = std::move(pictures); }

    StepResult step() override;
    // Cancel finishes the picture being sent, then pads; abort() cuts its write when the
    // printer does not take it (the rest of that picture is then sent as zeros).
    void cancel() override { m_cancelRequested = true; }
    void abort() override
    {
        m_cancelRequested = true;
        m_ownToken.cancel();
    }

    Outcome outcome() const { return m_outcome; }
    int pictureCount() const { return int(m_items.size()); }
    // Pictures sent whole (k of the progress line).
    int picturesSent() const { return m_sent; }
    uint64_t bytesSent() const { return m_bytesSent; }
    uint64_t totalBytes() const { return m_totalBytes; }
    // What the printer's NV memory holds after the job, in one sentence for the user.
    std::string printerHolds() const;
    // The same in Korean.
    std::string printerHoldsKorean() const;
    // A completed or cancelled upload whose logo log could not be written: the reason (else
    // empty).
    const std::string& logWarning() const { return m_logWarning; }

private:
    enum class Phase { Begin, Transfer, Log, Done };
    StepResult begin();
    StepResult transferOne();
    StepResult finishLog();
    // The logo log of the first `pictures` items with their centring.
    Status writeLog(int pictures);
    StepResult cancelled();
    // A write of picture m_sent + 1 was cut after `taken` bytes of its header and raster.
    StepResult cutShort(std::size_t taken);
    StepResult fail(const std::string& reason);
    Status openConnection();
    void report(ProgressStep step, const std::string& text);

    LogoEngineDeps m_deps;
    std::vector<Item> m_items;
    LogoOptions m_options;
    ModelFamily m_family;
    Profile* m_profile;
    int m_previousLogCount;

    std::shared_ptr<const std::vector<LogoPicture>> m_pictures; // from begin() on
    Phase m_phase = Phase::Begin;
    Outcome m_outcome = Outcome::Running;
    std::atomic<bool> m_cancelRequested{false};
    CancelToken m_ownToken; // lent to the connection during a step when the caller lent none
    bool m_defineSent = false;
    bool m_defineCut = false;      // the define command itself was cut: it may not have arrived
    std::size_t m_cutRemainder = 0; // bytes of a cut picture still owed to the printer
    bool m_paddingFailed = false;   // the printer did not take the padding
    int m_sent = 0;
    uint64_t m_bytesSent = 0;
    uint64_t m_totalBytes = 0;
    std::string m_logWarning;
    std::optional<WeightedProgress> m_progress; // from the conversion on, when the sizes are known
};

// The clear with an empty list: the question, then FS q 1 with one empty picture.
enum class NvClearOutcome { Declined, Cleared, Failed };
struct NvClearResult {
    NvClearOutcome outcome = NvClearOutcome::Failed;
    std::string message; // why it failed
};
NvClearResult clearNvLogos(LogoEngineDeps deps, bool askFirst = true);
