#include "firmware/LegacyDownloadJob.h"

#include "app/MessageCatalog.h"
#include "FakeConnection.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes flatImage()
{
    Bytes file(0x200000);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
    return file;
}

// A printer that answers every packet; `answerFor` chooses the answer bytes per write.
struct Rig {
    explicit Rig(PortKind kind = PortKind::Serial, bool canAnswer = true) : conn(kind, clock, canAnswer)
    {
        selectCatalog(false);
        conn.onWrite = [this](std::span<const std::uint8_t> b, int n) {
            for (auto& piece : answerFor(n))
                conn.answers.push_back(piece);
            return IoResult::done(b.size());
        };
    }
    StepResult run(LegacyArea area = LegacyArea::Program, LegacyDownloadOptions options = {})
    {
        job = std::make_unique<LegacyDownloadJob>(conn, *legacyAreaSpec(area), flatImage(), clock, progress, options);
        return runStepJob(*job, clock);
    }
    // The data packets written, in order (the erase packet and repeats included).
    std::function<std::vector<Bytes>(int)> answerFor = [](int) { return std::vector<Bytes>{{0x10, 0x06}}; };
    TestClock clock;
    FakeConnection conn;
    RecordingProgress progress;
    std::unique_ptr<LegacyDownloadJob> job;
};

} // namespace

TEST(LegacyDownloadJob, SerialDownloadIsDrivenByAcknowledgements)
{
    Rig rig;
    StepResult r = rig.run();
    ASSERT_EQ(r.kind, StepResult::Kind::Finished) << r.message;
    EXPECT_TRUE(rig.job->completed());
    ASSERT_EQ(rig.conn.writes.size(), 257u);
    EXPECT_EQ(rig.conn.writes[0], (Bytes{0x40, 0xF2, 0x20, 0x22, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(rig.conn.writes[1].begin(), rig.conn.writes[1].begin() + 8),
              (Bytes{0x40, 0xF0, 0x02, 0x00, 0x00, 0x1D, 0x00, 0x00}));
    EXPECT_EQ(Bytes(rig.conn.writes[256].begin(), rig.conn.writes[256].begin() + 8),
              (Bytes{0x40, 0xF1, 0x02, 0x00, 0x00, 0x1E, 0xFE, 0x00}));
    // The erase wait: six pauses of 500 ms, nothing else slept.
    EXPECT_EQ(rig.clock.sleeps(), std::vector<std::chrono::milliseconds>(6, 500ms));
    EXPECT_FALSE(rig.conn.isOpen());
    EXPECT_EQ(rig.job->title(), "Writing...(1F0000)");
    // The erase titles in turn, then the writing ones.
    std::vector<std::string> titles;
    for (auto& p : rig.progress.reports)
        if (titles.empty() || titles.back() != p.text)
            titles.push_back(p.text);
    ASSERT_GE(titles.size(), 8u);
    EXPECT_EQ(titles[0], "Erasing...");
    EXPECT_EQ(titles[6], "Erasing.........");
    EXPECT_EQ(titles[7], "Writing...(1D0200)");
    // The erase is a tenth of the bar, then the acknowledged bytes: only forward, full at the end.
    const std::uint64_t total = 0x20000u + 0x20000u / 10;
    std::uint64_t last = 0;
    for (auto& p : rig.progress.reports) {
        EXPECT_EQ(p.total, total);
        EXPECT_GE(p.done, last);
        last = p.done;
    }
    EXPECT_EQ(rig.progress.reports.back().done, total);
    auto first = std::find_if(rig.progress.reports.begin(), rig.progress.reports.end(),
                              [](auto& p) { return p.text == "Writing...(1D0200)"; });
    ASSERT_NE(first, rig.progress.reports.end());
    EXPECT_EQ(first->done, 0x20000u / 10) << "the first packet is shown once the printer took it, not as it leaves";
}

TEST(LegacyDownloadJob, BootAreaPausesFourHundredMilliseconds)
{
    Rig rig;
    ASSERT_EQ(rig.run(LegacyArea::Boot).kind, StepResult::Kind::Finished);
    EXPECT_EQ(rig.conn.writes.size(), 129u);
    EXPECT_EQ(rig.clock.totalSlept(), 2400ms);
}

TEST(LegacyDownloadJob, SplitDleAndStrayAckStillWork)
{
    Rig rig;
    // DLE in one read, ACK in the next; a stray 06 in front of every answer.
    rig.answerFor = [](int) { return std::vector<Bytes>{{0x06, 0x10}, {0x06}}; };
    ASSERT_EQ(rig.run().kind, StepResult::Kind::Finished);
    EXPECT_EQ(rig.conn.writes.size(), 257u);
}

TEST(LegacyDownloadJob, LoneAckIsNotAnAcknowledgement)
{
    Rig rig;
    rig.answerFor = [](int) { return std::vector<Bytes>{{0x06}}; };
    LegacyDownloadOptions options;
    options.eraseAckTimeout = 700ms;
    StepResult r = rig.run(LegacyArea::Program, options);
    EXPECT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_EQ(rig.conn.writes.size(), 1u); // the erase packet only
    EXPECT_NE(r.message.find(catalogText(Msg::ReadFail)), std::string::npos);
    EXPECT_FALSE(rig.conn.isOpen());
}

TEST(LegacyDownloadJob, NakEveryThirdPacketRepeatsItAndCompletes)
{
    Rig rig;
    int data = 0;
    rig.answerFor = [&](int n) -> std::vector<Bytes> {
        // n counts writes; the repeat after a NAK is never itself a multiple of three.
        if (n > 0 && n % 3 == 0) {
            ++data;
            return {{0x10, 0x15}};
        }
        return {{0x10, 0x06}};
    };
    ASSERT_EQ(rig.run().kind, StepResult::Kind::Finished);
    // Each NAK repeats exactly the packet before it.
    int repeats = 0;
    for (std::size_t i = 1; i < rig.conn.writes.size(); ++i)
        if (rig.conn.writes[i] == rig.conn.writes[i - 1])
            ++repeats;
    EXPECT_EQ(repeats, data);
    EXPECT_EQ(rig.conn.writes.size(), 257u + static_cast<std::size_t>(data));
}

TEST(LegacyDownloadJob, APrinterThatFallsSilentEndsTheDownloadInBoundedTime)
{
    Rig rig;
    rig.answerFor = [](int n) { return n < 10 ? std::vector<Bytes>{{0x10, 0x06}} : std::vector<Bytes>{}; };
    LegacyDownloadOptions options;
    options.ackTimeout = 2000ms;
    const auto start = rig.clock.now();
    StepResult r = rig.run(LegacyArea::Program, options);
    EXPECT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_FALSE(rig.job->completed());
    EXPECT_NE(r.message.find("ERROR : Read Fail!"), std::string::npos);
    EXPECT_NE(r.message.find("0x1D1200"), std::string::npos) << r.message;
    EXPECT_FALSE(rig.conn.isOpen());
    EXPECT_LE(rig.clock.now() - start, 3000ms + 2100ms);
}

TEST(LegacyDownloadJob, HangUpAndEndlessNakEndWithAMessage)
{
    Rig hung;
    hung.answerFor = [&](int n) {
        if (n == 5)
            hung.conn.hangUpOnRead = true;
        return std::vector<Bytes>{{0x10, 0x06}};
    };
    StepResult r = hung.run();
    EXPECT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_FALSE(hung.conn.isOpen());

    Rig nak;
    nak.answerFor = [](int n) { return n == 0 ? std::vector<Bytes>{{0x10, 0x06}} : std::vector<Bytes>{{0x10, 0x15}}; };
    LegacyDownloadOptions options;
    options.maxRepeats = 4;
    StepResult r2 = nak.run(LegacyArea::Program, options);
    EXPECT_EQ(r2.kind, StepResult::Kind::Failed);
    EXPECT_EQ(nak.conn.writes.size(), 1u + 5u);
    EXPECT_NE(r2.message.find("5 times"), std::string::npos) << r2.message;
}

TEST(LegacyDownloadJob, ParallelAndFileStreamFiftyMillisecondsApart)
{
    for (PortKind kind : {PortKind::Parallel, PortKind::File}) {
        Rig rig(kind, kind != PortKind::File);
        rig.answerFor = [](int) { return std::vector<Bytes>{}; };
        ASSERT_EQ(rig.run().kind, StepResult::Kind::Finished);
        EXPECT_EQ(rig.conn.reads, 0);
        ASSERT_EQ(rig.conn.writes.size(), 257u);
        auto sleeps = rig.clock.sleeps();
        // Six erase pauses, then 50 ms after each data packet but the last.
        ASSERT_EQ(sleeps.size(), 6u + 255u);
        EXPECT_EQ(sleeps[6], 50ms);
        // The capture is exactly the packets.
        Bytes expected;
        auto area = *legacyAreaSpec(LegacyArea::Program);
        auto erase = legacyErasePacket(area);
        expected.insert(expected.end(), erase.begin(), erase.end());
        for (std::uint32_t pos = area.start; pos < area.end; pos += 512) {
            auto p = legacyDataPacket(area, pos, flatImage());
            expected.insert(expected.end(), p.begin(), p.end());
        }
        EXPECT_EQ(rig.conn.stream, expected);
    }
}

TEST(LegacyDownloadJob, OpenFailureAndCancel)
{
    Rig rig;
    rig.conn.openResult = IoResult::failed("open: No such file or directory", ENOENT);
    StepResult r = rig.run();
    EXPECT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_EQ(r.message.rfind("Init Fail", 0), 0u);

    Rig cancelled;
    cancelled.job = std::make_unique<LegacyDownloadJob>(cancelled.conn, *legacyAreaSpec(LegacyArea::Program),
                                                        flatImage(), cancelled.clock, cancelled.progress);
    int steps = 0;
    StepResult r2 = runStepJob(*cancelled.job, cancelled.clock, [&] { return ++steps > 20; });
    EXPECT_EQ(r2.kind, StepResult::Kind::Failed);
    EXPECT_FALSE(cancelled.job->completed());
    EXPECT_FALSE(cancelled.conn.isOpen());
}

TEST(LegacyDownloadJob, LoadReadsAtMostTheAreasEnd)
{
    TempDir dir;
    writeFileBytes(dir / "short.bin", std::string(0x1D0100, '\x7F'));
    auto area = *legacyAreaSpec(LegacyArea::Program);
    auto bytes = loadLegacyImage(dir / "short.bin", area);
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(bytes->size(), 0x1D0100u);
    writeFileBytes(dir / "long.bin", std::string(0x300000, '\x01'));
    auto longer = loadLegacyImage(dir / "long.bin", area);
    ASSERT_TRUE(longer.ok());
    EXPECT_EQ(longer->size(), 0x1F0000u);
    EXPECT_FALSE(loadLegacyImage(dir / "none.bin", area).ok());
}
