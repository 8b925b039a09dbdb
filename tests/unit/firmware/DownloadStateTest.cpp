// What a download leaves in the printer's area (the engines' state), the one message of an
// early end built from it, the note a download keeps next to the profile, and the printer
// check after a complete download.
#include "firmware/DownloadNote.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/LegacyDownloadJob.h"
#include "firmware/PrinterReadyJob.h"
#include "firmware/TransferBlock.h"

#include "app/MessageCatalog.h"
#include "common/FileIo.h"
#include "FakeConnection.h"
#include "FirmwareImages.h"
#include "RecordingPrompter.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Phase = AreaWriteState::Phase;
using Bytes = std::vector<std::uint8_t>;

namespace {

const DownloadPlace kPlace{"Program Area", "fw.T25", "network printer 10.0.0.5:9100"};

AreaWriteState stateOf(Phase phase, std::uint32_t reached)
{
    AreaWriteState s = AreaWriteState::of(0x1D0000, 0x1F0000);
    s.phase = phase;
    s.reached = reached;
    return s;
}

// Calls `at` with each report's position (the transfer's cancel, at a chosen moment).
struct CallingProgress final : ProgressSink {
    std::function<void(std::uint64_t)> at;
    void report(const ProgressReport& p) override
    {
        if (at)
            at(p.done);
    }
};

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(EarlyEndMessage, SaysWhatTheAreaHoldsAndWhatToDoInEitherLanguage)
{
    struct Case {
        Phase phase;
        std::uint32_t reached;
        bool korean;
        std::vector<std::string> parts; // each must be in the text
        std::vector<std::string> absent;
    };
    const std::string again = "download the Program Area again with the same file (fw.T25) over the same connection "
                              "(network printer 10.0.0.5:9100)";
    const std::string againKo = "같은 파일(fw.T25)로 같은 연결(network printer 10.0.0.5:9100)을 통해 Program Area을(를) 다시";
    const Case cases[] = {
        {Phase::NotStarted, 0x1D0000, false, {"stopped", "the printer is unchanged"}, {"incomplete", "again"}},
        {Phase::Erasing, 0x1D0000, false,
         {"stopped", "The Program Area is incomplete", "began erasing it (bytes 0x1D0000 to 0x1EFFFF",
          "will not print until the Program Area is downloaded again", again},
         {"unchanged"}},
        {Phase::Writing, 0x1D8000, false, {"written up to 0x1D8000 (25 % of 0x1D0000 to 0x1EFFFF)", again}, {"erasing"}},
        {Phase::Writing, 0x1F0000, false, {"may be incomplete", "every byte up to 0x1F0000 was sent", again}, {}},
        {Phase::NotStarted, 0x1D0000, true, {"프린터는 변경되지 않았으며"}, {"다시 다운로드"}},
        {Phase::Erasing, 0x1D0000, true, {"지우기 시작", "인쇄하지 않습니다", againKo}, {}},
        {Phase::Writing, 0x1E0000, true, {"0x1E0000까지 기록되었습니다", "50 %", againKo}, {}},
    };
    for (const Case& c : cases) {
        const std::string text = earlyEndMessage(stateOf(c.phase, c.reached), kPlace, "stopped", c.korean);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.rfind("stopped\n", 0), 0u) << "the reason comes first";
        for (const auto& p : c.parts)
            EXPECT_TRUE(has(text, p)) << p;
        for (const auto& p : c.absent)
            EXPECT_FALSE(has(text, p)) << p;
    }
}

TEST(AreaWriteState, TheTransferTracksTheAreaFromTheHeaderToTheFinalWait)
{
    const auto block = buildTransferBlock(*FirmwareImage::parse(makeTestImage()), FirmwareArea::Program, kFamilyTavro25);
    struct Case {
        const char* name;
        int failAtWrite;     // -1: none
        bool cancelInWait;   // cancel during the final wait
        Phase phase;
        std::uint32_t reached; // offset into the image (the area starts at 0x500000)
    };
    const Case cases[] = {
        {"first chunk refused", 0, false, Phase::Erasing, 0x500000},
        {"middle", 200, false, Phase::Writing, 0x500000 + 200 * 2048 - 10},
        {"last chunk", 415, false, Phase::Writing, 0x500000 + 415 * 2048 - 10},
        {"cancelled in the final wait", -1, true, Phase::Writing, 0x500000 + 0xD0000 - 10},
        {"complete", -1, false, Phase::Complete, 0x500000 + 0xD0000 - 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestClock clock;
        FakeConnection conn(PortKind::Serial, clock);
        CallingProgress progress;
        std::vector<std::pair<Phase, std::size_t>> seen; // phase changes and the writes before them
        conn.onWrite = [&](std::span<const std::uint8_t> b, int n) {
            return n == c.failAtWrite ? IoResult::hungUp(0, "gone", EIO) : IoResult::done(b.size());
        };
        FirmwareTransferOptions o;
        o.imageOffset = 0x500000;
        o.stateChanged = [&](const AreaWriteState& s) {
            if (seen.empty() || seen.back().first != s.phase)
                seen.emplace_back(s.phase, conn.writes.size());
        };
        FirmwareTransfer t(conn, block, clock, progress, o);
        if (c.cancelInWait)
            progress.at = [&](std::uint64_t done) {
                if (done > block.size() + 2000)
                    t.cancel();
            };
        FirmwareTransferOutcome out = t.run();
        EXPECT_EQ(out.completed(), c.phase == Phase::Complete);
        EXPECT_EQ(out.state.phase, c.phase);
        EXPECT_EQ(out.state.reached, c.reached);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front(), std::make_pair(Phase::Erasing, std::size_t{0})) << "at stake before the first byte";
    }
}

TEST(AreaWriteState, TheLegacyJobTracksTheErasePacketAndEachAcknowledgedPacket)
{
    Bytes file(0x200000, 0x5A);
    struct Case {
        const char* name;
        int silentFrom; // the write after which the printer stops answering (-1: never)
        Phase phase;
        std::uint32_t reached;
    };
    const Case cases[] = {
        {"no answer to the erase packet", 0, Phase::Erasing, 0x1D0000},
        {"no answer to packet 100", 100, Phase::Writing, 0x1D0000 + 99 * 512},
        {"no answer to the last packet", 256, Phase::Writing, 0x1F0000 - 512},
        {"complete", -1, Phase::Complete, 0x1F0000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestClock clock;
        FakeConnection conn(PortKind::Serial, clock);
        RecordingProgress progress;
        conn.onWrite = [&](std::span<const std::uint8_t> b, int n) {
            if (c.silentFrom < 0 || n < c.silentFrom)
                conn.answers.push_back({0x10, 0x06});
            return IoResult::done(b.size());
        };
        LegacyDownloadOptions o;
        o.erasePause = 10ms;
        int changes = 0;
        o.stateChanged = [&](const AreaWriteState&) { ++changes; };
        LegacyDownloadJob job(conn, *legacyAreaSpec(LegacyArea::Program), file, clock, progress, o);
        StepResult r = runStepJob(job, clock);
        EXPECT_EQ(r.kind == StepResult::Kind::Finished, c.phase == Phase::Complete) << r.message;
        EXPECT_EQ(job.state().phase, c.phase);
        EXPECT_EQ(job.state().reached, c.reached);
        EXPECT_GT(changes, 0);
        // The erase pauses follow the option, not the area's 500 ms.
        const auto sleeps = clock.sleeps();
        EXPECT_GE(std::count(sleeps.begin(), sleeps.end(), 10ms), 6);
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 500ms), 0);
    }
}

TEST(DownloadNote, AKeptNoteLivesFromTheEraseUntilAWholeDownloadOfTheArea)
{
    TempDir dir;
    const auto file = downloadNoteFile(dir.path(), kPlace.connection);
    AreaWriteState s = AreaWriteState::of(0x300000, 0x39FFF6);
    {
        DownloadNoteKeeper keeper(dir.path(), kPlace);
        keeper.stateChanged(s); // not started: no note
        EXPECT_FALSE(std::filesystem::exists(file));
        s.erasing();
        keeper.stateChanged(s);
        ASSERT_TRUE(std::filesystem::exists(file)) << keeper.lastError();
        // Killed here: the next start says the download did not finish.
        auto notices = downloadNoticesIn(dir.path(), false);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_TRUE(has(notices[0], "did not finish")) << notices[0];
        EXPECT_TRUE(has(notices[0], "The Program Area is incomplete")) << notices[0];
        s.writtenTo(0x350000);
        keeper.ended(s); // an early end that was shown: the printer stays flagged
        auto note = readDownloadNote(file);
        ASSERT_TRUE(note) << note.message();
        EXPECT_TRUE(note->reported);
        EXPECT_EQ(note->state, s);
        EXPECT_TRUE(has(downloadNoticesIn(dir.path(), false)[0], "ended early"));
    }
    {
        // A download that never reached the printer leaves the note as it was.
        DownloadNoteKeeper keeper(dir.path(), kPlace);
        keeper.ended(AreaWriteState::of(0x300000, 0x39FFF6));
        EXPECT_TRUE(std::filesystem::exists(file));
        // Another area complete over the same connection: still flagged for this one.
        DownloadNoteKeeper other(dir.path(), {"Ext. Font", "fw.T25", kPlace.connection});
        AreaWriteState whole = s;
        whole.completed();
        other.ended(whole);
        EXPECT_TRUE(std::filesystem::exists(file));
        keeper.ended(whole);
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    // At start the programs show each note through the prompter.
    DownloadNoteKeeper again(dir.path(), kPlace);
    again.stateChanged(stateOf(Phase::Erasing, 0x1D0000));
    RecordingPrompter prompter;
    showDownloadNotices(prompter, dir.path(), true);
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_TRUE(has(prompter.texts()[0], "끝나지 못했습니다")) << prompter.texts()[0];
}

TEST(DownloadNote, BadNoteFilesAreReportedNeverFatal)
{
    struct Case {
        const char* name;
        std::string content;
    };
    const Case cases[] = {
        {"empty", ""},
        {"binary", std::string("\0\xFF\x01garbage", 10)},
        {"no phase", "area=Program Area\nstart=1\nend=2\nreached=1\n"},
        {"unknown phase", "area=Program Area\nphase=melting\n"},
        {"bad number", "area=Program Area\nphase=writing\nstart=12x\n"},
        {"reached beyond the end", "area=Program Area\nphase=writing\nstart=1\nend=2\nreached=9\n"},
        {"too large", std::string(64 * 1024, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto file = downloadNoteFile(dir.path(), "serial port /dev/ttyS0");
        ASSERT_TRUE(writeFileAtomically(file, c.content));
        EXPECT_FALSE(readDownloadNote(file));
        auto notices = downloadNoticesIn(dir.path(), false);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_TRUE(has(notices[0], "cannot be read")) << notices[0];
        EXPECT_TRUE(has(notices[0], file.filename().string())) << notices[0];
    }
    // A folder that does not exist has no notes.
    EXPECT_TRUE(downloadNoticesIn("/nonexistent/folder", false).empty());
}

TEST(PrinterReadyJob, AsksUntilThePrinterAnswersOrTheTimeRunsOut)
{
    struct Case {
        const char* name;
        PortKind kind;
        bool canAnswer;
        int answerFrom; // the question that gets an answer (-1: none)
        PrinterReady expected;
    };
    const Case cases[] = {
        {"answers at once", PortKind::Serial, true, 0, PrinterReady::Answered},
        {"answers after its restart", PortKind::Ethernet, true, 4, PrinterReady::Answered},
        {"silent", PortKind::Usb, true, -1, PrinterReady::NoAnswer},
        {"a file cannot answer", PortKind::File, false, 0, PrinterReady::NotAsked},
        {"nor a parallel port", PortKind::Parallel, true, 0, PrinterReady::NotAsked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestClock clock;
        FakeConnection conn(c.kind, clock, c.canAnswer);
        int questions = 0;
        conn.onWrite = [&](std::span<const std::uint8_t> b, int) {
            EXPECT_EQ(Bytes(b.begin(), b.end()), (Bytes{0x1D, 0x49, 0x01}));
            if (c.answerFrom >= 0 && questions++ >= c.answerFrom)
                conn.answers.push_back({0x20});
            return IoResult::done(b.size());
        };
        PrinterReadyOptions o;
        o.timeout = 10s;
        PrinterReadyJob job(conn, clock, o);
        const auto start = clock.now();
        StepResult r = runStepJob(job, clock);
        EXPECT_EQ(job.result(), c.expected);
        EXPECT_EQ(r.kind == StepResult::Kind::Finished, c.expected == PrinterReady::Answered);
        EXPECT_FALSE(conn.isOpen());
        if (c.expected == PrinterReady::NoAnswer) {
            EXPECT_GE(clock.now() - start, 10s);
        }
        EXPECT_FALSE(printerReadyText(c.expected, o.timeout, false).empty() && c.expected != PrinterReady::NotAsked);
    }
    EXPECT_EQ(printerReadyText(PrinterReady::NoAnswer, 60s, false).rfind("The printer did not answer within 60 s.", 0), 0u);
}
