#pragma once
// The TAVRO15's firmware download as a step job: open, erase packet, six erase pauses, then
// the data packets. Over a connection that answers, each packet waits for DLE ACK (next
// packet) or DLE NAK (same packet again); over a parallel port or into a file, where nothing
// answers, the packets follow each other 50 ms apart.
//
// Unlike the printers this replaces expected, every wait has an end: an acknowledgement that
// does not come within its time-out and a packet refused too often both end the download
// with a message and the port closed. Completion is reported only after the last packet was
// acknowledged (or, with nobody to answer, written whole).
//
// Threads: step() runs on the driver's thread (the dialog's worker, the CLI, a test);
// cancel() from any thread (an atomic flag, read at the next step).
#include "app/CancelToken.h"
#include "app/ConnectionRules.h"
#include "app/Clock.h"
#include "app/Progress.h"
#include "app/Result.h"
#include "app/StepJob.h"
#include "app/WeightedProgress.h"
#include "firmware/AreaWriteState.h"
#include "firmware/LegacyPackets.h"
#include "port/PrinterConnection.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct LegacyDownloadOptions {
    using Ms = std::chrono::milliseconds;
    // How long one packet's answer may take (a 522-byte packet and its flash write take well
    // under a second at 9600 baud).
    Ms ackTimeout{5000};
    // The erase packet's answer may come only after the printer erased its sectors.
    Ms eraseAckTimeout{15000};
    // How often one packet may be refused with DLE NAK before the download gives up.
    int maxRepeats = 8;
    // One read per step: how long a step listens for the answer.
    Ms poll{20};
    // Packet pace where nothing answers.
    Ms streamPause{50};
    // How long one packet's write may take. Unset: the connection's write deadline.
    std::optional<Ms> writeDeadline;
    // Each of the six pauses while the printer erases. Unset: the area's own (500 or 400 ms),
    // which a printer that erases faster does not need, nor a test.
    std::optional<Ms> erasePause;
    // Told of every change of the area's state (the first just before the erase packet
    // leaves), on the thread that runs the steps.
    std::function<void(const AreaWriteState&)> stateChanged;
};

// Reads the flat image for a legacy area: at most the area's end is read (the size cap).
// Fails with the reason. A file that ends before the area's end is read as it is: callers
// refuse it (coverageProblem) before anything is sent; the packets would carry zeros there.
Result<std::vector<std::uint8_t>> loadLegacyImage(const std::filesystem::path& file, const LegacyAreaSpec& area);

// The connection settings of a download: the user's, with no handshake. A printer in download
// mode need not raise CTS, and a three-wire cable has no CTS at all; the user's own setting
// stays as it was for everything else.
ConnectionSettings legacyDownloadSettings(ConnectionSettings settings);

class LegacyDownloadJob final : public StepJob {
public:
    LegacyDownloadJob(PrinterConnection& connection, LegacyAreaSpec area, std::vector<std::uint8_t> image,
                      Clock& clock, ProgressSink& progress, LegacyDownloadOptions options = {});
    ~LegacyDownloadJob() override;

    StepResult step() override;
    void cancel() override
    {
        m_cancel = true;
        m_ownToken.cancel();
    }

    // The dialog's title text: "Erasing...", "Erasing....", ..., "Writing...(1D0200)".
    const std::string& title() const { return m_title; }
    std::uint32_t position() const { return m_position; }
    bool completed() const { return m_phase == Phase::Done; }
    // Packets written, repeats included.
    int packetsWritten() const { return m_written; }
    // What the printer's area holds now, as far as the job knows: erasing from the erase
    // packet on, then written up to the end of the last packet the printer took (over a
    // port without answers: the last one written). Read it on the driver's thread, or after
    // the job ended.
    const AreaWriteState& state() const { return m_state; }

private:
    enum class Phase { Open, Erase, EraseWait, Stream, WaitAnswer, Done, Failed };

    StepResult sendCurrent();
    StepResult nextPacket();
    StepResult finish();
    StepResult failWith(std::string message, const std::string& detail);
    void setTitle(std::string title);
    void setState(const AreaWriteState& state);
    std::chrono::milliseconds erasePause() const
    {
        return m_options.erasePause ? *m_options.erasePause : std::chrono::milliseconds(m_area.erasePauseMs);
    }

    PrinterConnection& m_conn;
    LegacyAreaSpec m_area;
    std::vector<std::uint8_t> m_image;
    Clock& m_clock;
    // The erase (a tenth of the bar, by its six pauses), then the bytes the printer
    // acknowledged (over a port without answers: the bytes written); full only at the end.
    WeightedProgress m_progress;
    LegacyDownloadOptions m_options;
    std::atomic<bool> m_cancel{false};
    CancelToken m_ownToken; // lent to the connection during a step when the caller lent none

    Phase m_phase = Phase::Open;
    bool m_stream = false;
    int m_eraseStep = 0;
    std::uint32_t m_position = 0; // the end of the packet built last
    std::uint32_t m_taken = 0;    // the end of the last packet the printer took
    std::vector<std::uint8_t> m_packet;
    bool m_packetIsErase = true;
    int m_repeats = 0;
    int m_written = 0;
    std::chrono::steady_clock::time_point m_sentAt{};
    LegacyAckParser m_parser;
    std::string m_title;
    AreaWriteState m_state;
};
