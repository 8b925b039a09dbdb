#include "firmware/FirmwareTransfer.h"
#include "firmware/TransferBlock.h"

#include "app/CancelToken.h"
#include "app/MessageCatalog.h"
#include "FakeConnection.h"
#include "FirmwareImages.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace std::chrono_literals;
using Kind = FirmwareTransferOutcome::Kind;

namespace {

std::vector<std::uint8_t> programBlock()
{
    static const auto block = buildTransferBlock(*FirmwareImage::parse(makeTestImage()), FirmwareArea::Program, kFamilyTavro25);
    return block;
}

struct Rig {
    explicit Rig(PortKind kind, bool canAnswer = true) : conn(kind, clock, canAnswer) { selectCatalog(false); }
    FirmwareTransferOutcome run(FirmwareTransferOptions options = {})
    {
        FirmwareTransfer t(conn, programBlock(), clock, progress, options);
        return t.run();
    }
    TestClock clock;
    FakeConnection conn;
    RecordingProgress progress;
};

} // namespace

TEST(FirmwareTransfer, SerialSendsTheBlockIn2048ByteChunksThenWaitsSixteenSteps)
{
    Rig rig(PortKind::Serial);
    auto out = rig.run();
    ASSERT_TRUE(out.completed()) << out.detail;
    EXPECT_EQ(out.message, "Update Complete.\nPlease wait beep the buzzer.");
    EXPECT_EQ(rig.conn.stream, programBlock());
    ASSERT_EQ(rig.conn.writes.size(), 0xD0000u / 2048);
    for (auto& w : rig.conn.writes)
        ASSERT_EQ(w.size(), 2048u);
    EXPECT_EQ(out.sent, 0xD0000u);
    EXPECT_FALSE(rig.conn.isOpen());
    // Serial is paced by each write's drain: the only waits are the 16 flash steps.
    EXPECT_EQ(rig.clock.sleeps(), std::vector<std::chrono::milliseconds>(16, 83ms));

    const std::uint64_t range = 0xD0000 + 20480;
    ASSERT_FALSE(rig.progress.reports.empty());
    for (auto& r : rig.progress.reports)
        ASSERT_EQ(r.total, range);
    // Below 100 % until the final wait starts, at L + 1 + 1280 k during it, full at the end.
    const auto& reports = rig.progress.reports;
    auto atEnd = std::find_if(reports.begin(), reports.end(), [](auto& r) { return r.done == 0xD0000; });
    ASSERT_NE(atEnd, reports.end());
    EXPECT_EQ(firmwareProgressTitle("T", atEnd->done, range), "T - 97 %");
    EXPECT_EQ((atEnd + 1)->done, 0xD0000u + 1);
    EXPECT_EQ((atEnd + 16)->done, 0xD0000u + 1 + 15 * 1280);
    EXPECT_EQ(reports.back().done, range);
    EXPECT_EQ(firmwareProgressTitle("T", reports.back().done, range), "T - 100 %");
}

TEST(FirmwareTransfer, ParallelUsbAndFilePauseBetweenChunks)
{
    for (PortKind kind : {PortKind::Parallel, PortKind::Usb, PortKind::File}) {
        Rig rig(kind, kind != PortKind::File);
        auto out = rig.run();
        ASSERT_TRUE(out.completed());
        EXPECT_EQ(rig.conn.stream, programBlock());
        EXPECT_EQ(rig.conn.writes.size(), 416u);
        auto sleeps = rig.clock.sleeps();
        ASSERT_EQ(sleeps.size(), 415u + 16u);
        EXPECT_EQ(sleeps.front(), 1ms);
        EXPECT_EQ(sleeps.back(), 83ms);
    }
}

TEST(FirmwareTransfer, NetworkSendsFourKilobyteChunksAndWaits256Steps)
{
    Rig rig(PortKind::Ethernet);
    auto out = rig.run();
    ASSERT_TRUE(out.completed());
    EXPECT_EQ(rig.conn.stream, programBlock());
    EXPECT_EQ(rig.conn.writes.size(), 0xD0000u / 4096);
    EXPECT_EQ(rig.clock.sleeps(), std::vector<std::chrono::milliseconds>(256, 83ms));
    EXPECT_EQ(rig.clock.totalSlept(), 21248ms);
    for (auto& r : rig.progress.reports)
        ASSERT_LE(r.done, r.total);
}

TEST(FirmwareTransfer, PortWriteFailureNamesTheSystemErrorAndClosesThePort)
{
    Rig rig(PortKind::Parallel);
    rig.conn.onWrite = [](std::span<const std::uint8_t> b, int n) {
        if (n == 10)
            return IoResult::failed("write /dev/lp0: Input/output error", EIO, 100);
        return IoResult::done(b.size());
    };
    auto out = rig.run();
    EXPECT_FALSE(out.completed());
    EXPECT_EQ(out.kind, Kind::WriteFailed);
    EXPECT_EQ(out.message, "LPT Write Error[5]");
    EXPECT_EQ(out.error, EIO);
    EXPECT_EQ(out.sent, 10u * 2048 + 100);
    EXPECT_NE(out.detail.find("Input/output error"), std::string::npos);
    EXPECT_FALSE(rig.conn.isOpen());
    // No final wait, no completion.
    for (auto s : rig.clock.sleeps())
        EXPECT_EQ(s, 1ms);
}

TEST(FirmwareTransfer, SerialChunkThatNeverLeavesIsPrinterNotReady)
{
    Rig rig(PortKind::Serial);
    rig.conn.onWrite = [](std::span<const std::uint8_t> b, int n) {
        if (n == 3)
            return IoResult::timedOut(512, "write timed out");
        return IoResult::done(b.size());
    };
    FirmwareTransferOptions options;
    options.chunkDeadline = 1234ms;
    auto out = rig.run(options);
    EXPECT_EQ(out.kind, Kind::NotReady);
    EXPECT_EQ(out.message, "ERROR : PRINTER IS NOT READY!");
    EXPECT_EQ(rig.conn.deadlines.front(), 1234ms);
    EXPECT_FALSE(rig.conn.isOpen());
    EXPECT_EQ(out.sent, 3u * 2048 + 512);
}

// A chunk that the cancel token cuts ends the transfer as cancelled on both paths, not as a
// printer that is not ready, and a network chunk is not offered again.
TEST(FirmwareTransfer, AChunkCutByTheCancelTokenEndsAsCancelled)
{
    for (PortKind kind : {PortKind::Serial, PortKind::Ethernet}) {
        SCOPED_TRACE(kind == PortKind::Serial ? "serial" : "network");
        Rig rig(kind);
        CancelToken token;
        rig.conn.setCancelToken(&token);
        rig.conn.onWrite = [&](std::span<const std::uint8_t> b, int n) {
            if (n < 3)
                return IoResult::done(b.size());
            token.cancel();
            return IoResult::cancelled(100, "write to fake port cancelled");
        };
        auto out = rig.run();
        const std::uint32_t chunk = kind == PortKind::Serial ? 2048 : 4096;
        EXPECT_EQ(out.kind, Kind::Cancelled);
        EXPECT_EQ(out.message, "Cancelled.");
        EXPECT_EQ(rig.conn.writes.size(), 4u);
        EXPECT_EQ(out.sent, 3 * chunk + 100);
        EXPECT_FALSE(rig.conn.isOpen());
        EXPECT_TRUE(rig.clock.sleeps().empty()) << "no final wait";
    }
}

TEST(FirmwareTransfer, NetworkResendsOnlyWhatTheModuleDidNotTake)
{
    Rig rig(PortKind::Ethernet);
    int failures = 0;
    rig.conn.onWrite = [&](std::span<const std::uint8_t> b, int n) {
        // Chunk 7 is cut short twice before it goes through.
        if ((n == 7 || n == 8) && failures < 2) {
            ++failures;
            return IoResult::timedOut(b.size() / 2, "send timed out");
        }
        return IoResult::done(b.size());
    };
    auto out = rig.run();
    ASSERT_TRUE(out.completed()) << out.detail;
    EXPECT_EQ(rig.conn.stream, programBlock()); // nothing sent twice, nothing lost
    auto sleeps = rig.clock.sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 500ms), 2);
}

TEST(FirmwareTransfer, NetworkIsCompleteOnlyWhenTheModuleHasTheLastByte)
{
    // Streamed chunks are with the connection, not yet with the module: one drain after the
    // last chunk, before the final wait.
    Rig good(PortKind::Ethernet);
    good.conn.onDrain = [&] {
        EXPECT_EQ(good.conn.stream.size(), 0xD0000u) << "drained after the last chunk";
        EXPECT_TRUE(good.clock.sleeps().empty()) << "drained before the final wait";
        for (auto& p : good.progress.reports)
            EXPECT_LT(p.done, 0xD0000u) << "the last byte is shown only once it arrived";
        return IoResult::done();
    };
    ASSERT_TRUE(good.run().completed());
    EXPECT_EQ(good.conn.drains, 1);
    EXPECT_EQ(std::count_if(good.progress.reports.begin(), good.progress.reports.end(),
                            [](const ProgressReport& p) { return p.done == 0xD0000u; }),
              1);

    // The module resets with the last bytes unacknowledged: a failure, no final wait.
    Rig reset(PortKind::Ethernet);
    reset.conn.onDrain = [] { return IoResult::hungUp(0xD0000 - 5000, "reset by peer"); };
    auto out = reset.run();
    EXPECT_FALSE(out.completed());
    EXPECT_EQ(out.kind, Kind::WriteFailed);
    EXPECT_EQ(out.message, catalogText(Msg::WriteFail));
    EXPECT_EQ(out.sent, 0xD0000u - 5000) << "what the module acknowledged, not what was handed over";
    EXPECT_NE(out.detail.find("reset by peer"), std::string::npos);
    EXPECT_TRUE(reset.clock.sleeps().empty());
    EXPECT_FALSE(reset.conn.isOpen());

    // A module that stops acknowledging: the same, never complete.
    Rig stalled(PortKind::Ethernet);
    stalled.conn.onDrain = [] { return IoResult::timedOut(0xD0000 - 4096, "the printer took no data for 15 s"); };
    EXPECT_EQ(stalled.run().kind, Kind::WriteFailed);
}

TEST(FirmwareTransfer, NetworkWaitsAgainWhenEveryByteWasTakenButTheWindowDidNotOpen)
{
    // The module took chunk 3 into the connection but fell behind: the next try hands over
    // nothing again, it only waits; nothing is sent twice.
    Rig rig(PortKind::Ethernet);
    rig.conn.onWrite = [](std::span<const std::uint8_t> b, int n) {
        if (n == 3)
            return IoResult::timedOut(b.size(), "the printer did not acknowledge 70000 bytes in time");
        return IoResult::done(b.size());
    };
    auto out = rig.run();
    ASSERT_TRUE(out.completed()) << out.detail;
    EXPECT_EQ(rig.conn.stream, programBlock());
    ASSERT_GT(rig.conn.writes.size(), 4u);
    EXPECT_TRUE(rig.conn.writes[4].empty()) << "the second try of chunk 3 only waits";
}

TEST(FirmwareTransfer, NetworkGivesUpAfterBoundedTriesAndNeverReportsComplete)
{
    Rig rig(PortKind::Ethernet);
    rig.conn.onWrite = [](std::span<const std::uint8_t> b, int n) {
        if (n >= 20)
            return IoResult::failed("send: Connection timed out", ETIMEDOUT);
        return IoResult::done(b.size());
    };
    FirmwareTransferOptions options;
    options.networkAttempts = 3;
    auto out = rig.run(options);
    EXPECT_EQ(out.kind, Kind::WriteFailed);
    EXPECT_EQ(out.message, catalogText(Msg::WriteFail));
    EXPECT_EQ(rig.conn.writes.size(), 23u);
    EXPECT_EQ(out.sent, 20u * 4096);
    EXPECT_FALSE(rig.conn.isOpen());
    EXPECT_NE(out.detail.find("try 3 of 3"), std::string::npos);

    // A module that hangs up is not tried again.
    Rig hung(PortKind::Ethernet);
    hung.conn.onWrite = [](std::span<const std::uint8_t>, int) { return IoResult::hungUp(0, "reset by peer"); };
    auto out2 = hung.run();
    EXPECT_EQ(out2.kind, Kind::WriteFailed);
    EXPECT_EQ(hung.conn.writes.size(), 1u);
}

TEST(FirmwareTransfer, OpenFailureMessages)
{
    Rig serial(PortKind::Serial);
    serial.conn.openResult = IoResult::failed("open /dev/ttyS0: Permission denied", EACCES);
    auto a = serial.run();
    EXPECT_EQ(a.kind, Kind::OpenFailed);
    EXPECT_EQ(a.message, "Init Fail");
    EXPECT_TRUE(serial.conn.writes.empty());

    Rig net(PortKind::Ethernet);
    net.conn.openResult = IoResult::failed("connect 127.0.0.1:6001: Connection refused", ECONNREFUSED);
    auto b = net.run();
    EXPECT_EQ(b.message, "ERROR : Printer check.");
    EXPECT_NE(b.detail.find("Connection refused"), std::string::npos);
}

TEST(FirmwareTransfer, WorkerRunsOffTheCallersThreadAndCancelStopsIt)
{
    TestClock clock;
    FakeConnection conn(PortKind::Serial, clock);
    RecordingProgress progress;
    // The third chunk meets a printer that stalls: as in a real connection, only the
    // connection's cancel token ends that wait (or, if it never comes, a 5 s stall).
    conn.onWrite = [&](std::span<const std::uint8_t> b, int n) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (n == 2 && !(conn.cancelToken() && conn.cancelToken()->cancelled())) {
            if (std::chrono::steady_clock::now() > end)
                return IoResult::timedOut(0, "stalled");
            std::this_thread::yield();
        }
        return n == 2 ? IoResult::cancelled(0, "cancelled") : IoResult::done(b.size());
    };
    std::promise<FirmwareTransferOutcome> result;
    std::thread::id workerThread;
    auto transfer = std::make_unique<FirmwareTransfer>(conn, programBlock(), clock, progress);
    FirmwareTransfer* raw = transfer.get();
    FirmwareTransferWorker worker(std::move(transfer), [&](const FirmwareTransferOutcome& o) {
        workerThread = std::this_thread::get_id();
        result.set_value(o);
    });
    raw->cancel();
    auto out = result.get_future().get();
    worker.join();
    EXPECT_NE(workerThread, std::this_thread::get_id());
    EXPECT_EQ(out.kind, Kind::Cancelled);
    EXPECT_FALSE(out.completed());
    EXPECT_LT(conn.writes.size(), 416u);
    EXPECT_FALSE(conn.isOpen());
    EXPECT_EQ(conn.cancelToken(), nullptr) << "the transfer's own token is not left lent";
}
