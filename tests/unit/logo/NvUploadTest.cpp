// The NV upload and the clear against a recording connection: the bytes per connection kind,
// the blocks and waits, Cancel's padding, failures that must leave the logo log alone.
#include "LogoEngineSupport.h"
#include "app/CancelToken.h"
#include "app/Profile.h"
#include "logo/LogoLog.h"
#include "logo/LogoPicture.h"
#include "logo/NvUpload.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;

namespace {

class NvUploadTest : public testing::Test {
protected:
    void useKind(PortKind kind) { host = std::make_unique<LogoEngineHost>(kind); }

    std::unique_ptr<NvUpload> makeUpload(const std::vector<std::string>& paths, ModelFamily family = kFamilyTavro25,
                                         int previousLogCount = 0)
    {
        std::vector<NvUpload::Item> items;
        uint64_t total = 0;
        for (const auto& p : paths) {
            auto picture = rasterizeLogoFile(p, options, false);
            EXPECT_TRUE(picture.ok()) << picture.message();
            total += picture->predictedSize;
            items.push_back({p, std::filesystem::path(p).filename().string(), false});
        }
        return std::make_unique<NvUpload>(host->deps(), items, options, family, total, &profile(), previousLogCount);
    }
    Profile& profile()
    {
        if (!m_profile)
            m_profile = std::make_unique<Profile>(host->dir / "tavroset.INI");
        return *m_profile;
    }
    Bytes raster(const std::string& path)
    {
        auto picture = rasterizeLogoFile(path, options, false);
        return picture.ok() ? picture->raster : Bytes{};
    }

    std::unique_ptr<LogoEngineHost> host = std::make_unique<LogoEngineHost>(PortKind::File);
    LogoOptions options;

private:
    std::unique_ptr<Profile> m_profile;
};

} // namespace

TEST_F(NvUploadTest, OnePictureToAFileIsTheDefineHeaderAndRasterInBlocks)
{
    const std::string a = host->picture("a.bmp", 100, 50);
    auto up = makeUpload({a});
    StepResult r = runStepJob(*up, host->clock);
    ASSERT_EQ(r.kind, StepResult::Kind::Finished) << r.message;
    EXPECT_EQ(up->outcome(), NvUpload::Outcome::Completed);

    const Bytes data = raster(a);
    ASSERT_EQ(data.size(), 728u);
    EXPECT_EQ(host->connection.bytes, concat({{0x1C, 0x71, 0x01}, {0x0D, 0x00, 0x07, 0x00}, data}));
    // A file gets no printer check and no ESC @; the raster goes as 512 + 216.
    EXPECT_EQ(host->connection.journal,
              (std::vector<std::string>{"open", "write 3", "write 4", "write 512", "write 216", "close"}));
    EXPECT_EQ(host->clock.sleeps(), (std::vector<Ms>{Ms{3500}, Ms{10}, Ms{10}, Ms{10}}));

    EXPECT_EQ(LogoLog(profile()).read(), std::vector<std::string>{a});
    const auto texts = host->prompter.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "All bit image files are written in the NV Graphics memory of the printer.");
    EXPECT_EQ(texts[1], "Complete the NV bit image definition.\r\nPlease wait some paper feed.");

    const auto& reports = host->progress.reports;
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[0].text, "Erasing...");
    EXPECT_EQ(reports[1].text, "Updating(0/728)...a.bmp");
    EXPECT_EQ(reports[2].text, "Updating(512/728)...a.bmp");
    EXPECT_EQ(reports[3].text, "Updating(728/728)...a.bmp");
    // The bar: the erase's share once the pictures go, then a unit per byte written; full
    // only after the last report, when the port is closed.
    const auto weights = NvUpload::progressWeights(728);
    EXPECT_EQ(reports[0].done, 0u);
    EXPECT_EQ(reports[1].done, weights[0]);
    EXPECT_EQ(reports[2].done, weights[0] + 512);
    EXPECT_EQ(reports[3].done, weights[0] + 728);
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(reports[i].done, reports[i - 1].done) << i;
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_LT(reports[3].done, reports[3].total);
    EXPECT_EQ(reports[4].done, reports[4].total);
    EXPECT_EQ(reports[4].total, weights[0] + weights[1] + weights[2]);
}

TEST_F(NvUploadTest, SerialParallelAndNetworkOpenAsTheirKindNeeds)
{
    struct Case {
        PortKind kind;
        Bytes prefix;
        std::vector<std::string> journalStart;
    };
    const std::vector<Case> cases = {
        {PortKind::Serial, {0x1D, 0x49, 0x01, 0x1B, 0x40}, {"open", "write 3", "read 500", "write 2", "write 3"}},
        {PortKind::Usb, {0x1D, 0x49, 0x01, 0x1B, 0x40}, {"open", "write 3", "read 500", "write 2", "write 3"}},
        {PortKind::Parallel, {0x1D, 0x49, 0x01}, {"close", "open", "write 3", "read 500", "write 3"}},
        {PortKind::Ethernet, {}, {"open", "write 3"}},
    };
    for (const auto& c : cases) {
        useKind(c.kind);
        host->connection.answer = {0x20};
        const std::string a = host->picture("a.bmp", 8, 8);
        auto up = makeUpload({a});
        ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished) << int(c.kind);
        const Bytes expected = concat({c.prefix, {0x1C, 0x71, 0x01, 0x01, 0x00, 0x01, 0x00}, raster(a)});
        EXPECT_EQ(host->connection.bytes, expected) << int(c.kind);
        const auto& j = host->connection.journal;
        ASSERT_GE(j.size(), c.journalStart.size());
        EXPECT_EQ(std::vector<std::string>(j.begin(), j.begin() + std::ptrdiff_t(c.journalStart.size())),
                  c.journalStart)
            << int(c.kind);
        EXPECT_EQ(j.back(), "close");
    }
}

TEST_F(NvUploadTest, StarEmulationPrefixesOnlyTheDefineCommand)
{
    options.starEmulation = true;
    const std::string a = host->picture("a.bmp", 100, 50);
    auto up = makeUpload({a, a});
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    const Bytes data = raster(a);
    EXPECT_EQ(host->connection.bytes,
              concat({{0x1B, 0x1C, 0x71, 0x02}, {0x0D, 0x00, 0x07, 0x00}, data, {0x0D, 0x00, 0x07, 0x00}, data}));
}

TEST_F(NvUploadTest, GrayPictureFullWidthSetsA0InTheHeader)
{
    options.grayPrinting = true;
    const std::string a = host->picture("g.bmp", 576, 16);
    auto up = makeUpload({a});
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    const Bytes& b = host->connection.bytes;
    ASSERT_EQ(b.size(), 3u + 4u + 576u * 16u / 2u);
    EXPECT_EQ(Bytes(b.begin() + 3, b.begin() + 7), (Bytes{0x48, 0xA0, 0x02, 0x00}));
}

TEST_F(NvUploadTest, PicturesGoInTheOrderGivenWithABlockPauseEach)
{
    const std::string a = host->picture("a.bmp", 64, 64);   // 512 bytes: one block
    const std::string b = host->picture("b.bmp", 200, 40);  // 1000 bytes: 512 + 488
    auto up = makeUpload({a, b});
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(host->connection.bytes,
              concat({{0x1C, 0x71, 0x02}, {0x08, 0x00, 0x08, 0x00}, raster(a), {0x19, 0x00, 0x05, 0x00}, raster(b)}));
    EXPECT_EQ(host->clock.sleeps(), (std::vector<Ms>{Ms{3500}, Ms{10}, Ms{10}, Ms{10}, Ms{10}, Ms{10}}));
    EXPECT_EQ(up->bytesSent(), 1512u);
}

TEST_F(NvUploadTest, CancelAfterTheSecondOfFivePadsFourEmptyPictures)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i)
        paths.push_back(host->picture("p" + std::to_string(i) + ".bmp", 16, 8));
    ASSERT_TRUE(profile().writeString("LOGO", "Logofile1", "/before/1.bmp").ok());
    auto up = makeUpload(paths);
    EXPECT_EQ(up->step().after, Ms{3500}); // asked, opened, FS q 5 sent
    EXPECT_EQ(up->step().kind, StepResult::Kind::Again);
    EXPECT_EQ(up->step().kind, StepResult::Kind::Again);
    EXPECT_EQ(up->picturesSent(), 2);
    const std::size_t before = host->connection.bytes.size();
    host->clock.clearSleeps();
    up->cancel();
    EXPECT_EQ(up->step().kind, StepResult::Kind::Finished);
    EXPECT_EQ(up->outcome(), NvUpload::Outcome::Cancelled);
    EXPECT_EQ(Bytes(host->connection.bytes.begin() + std::ptrdiff_t(before), host->connection.bytes.end()), Bytes(16, 0));
    EXPECT_EQ(host->clock.sleeps(), std::vector<Ms>{NvUpload::kCancelWait});
    EXPECT_EQ(host->connection.journal.back(), "close");
    // The printer holds two pictures now, and the log names them.
    EXPECT_EQ(LogoLog(profile()).read(), (std::vector<std::string>{paths[0], paths[1]}));
    EXPECT_NE(up->printerHolds().find("pictures 1..2; pictures 3..5 are empty"), std::string::npos)
        << up->printerHolds();
    EXPECT_NE(up->printerHoldsKorean().find("1~2번 이미지가 저장되어 있고 3~5번 이미지는 비어 있습니다"),
              std::string::npos)
        << up->printerHoldsKorean();
}

TEST_F(NvUploadTest, CancelBeforeTheFirstPictureCompletesTheDefinitionWithEmptyPictures)
{
    const std::string a = host->picture("a.bmp", 16, 8);
    auto up = makeUpload({a, a, a});
    up->step();
    up->cancel();
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(host->connection.bytes, concat({{0x1C, 0x71, 0x03}, Bytes(16, 0)}));
}

// Ctrl-C while the printer stalls cuts a write mid-picture: the rest of that picture goes as
// zeros, then the empty pictures, all written without the (cancelled) token under the short
// padding bound, so the printer's definition ends exactly with the last byte sent.
TEST_F(NvUploadTest, AWriteCutByCancelFinishesThePictureWithZerosThenPads)
{
    struct Case {
        long cutAfter; // bytes the printer got before the stall (the define is 3)
        const char* where;
    };
    for (const Case& c : {Case{3 + 2, "in the header"}, Case{3 + 4 + 600, "in the second block"}}) {
        SCOPED_TRACE(c.where);
        useKind(PortKind::File);
        const std::string a = host->picture("a.bmp", 100, 50);
        const std::size_t whole = 4 + raster(a).size(); // header and 728 raster bytes
        CancelToken token;
        host->connection.setCancelToken(&token);
        host->connection.setStallLimit(Ms{15000});
        host->connection.cutAfter = c.cutAfter;
        auto up = makeUpload({a, a});
        StepResult r = runStepJob(*up, host->clock);
        ASSERT_EQ(r.kind, StepResult::Kind::Finished) << r.message;
        EXPECT_EQ(up->outcome(), NvUpload::Outcome::Cancelled);
        const Bytes& got = host->connection.bytes;
        // Picture 1 complete with zeros, then two empty pictures (one more than is missing).
        ASSERT_EQ(got.size(), 3 + whole + 2 * 4);
        EXPECT_EQ(Bytes(got.begin() + c.cutAfter, got.end()), Bytes(got.size() - std::size_t(c.cutAfter), 0));
        EXPECT_EQ(host->connection.cancelToken(), &token) << "the token is lent back after the padding";
        EXPECT_LE(host->connection.stallLimits.back(), NvUpload::kPaddingStall);
        EXPECT_EQ(host->connection.stallLimit(), Ms{15000});
        EXPECT_EQ(host->clock.sleeps().back(), NvUpload::kCancelWait);
        EXPECT_EQ(host->connection.journal.back(), "close");
        EXPECT_EQ(up->printerHolds(), "the printer holds picture 1 cut short (its rest blank); picture 2 is empty");
    }
}

TEST_F(NvUploadTest, PaddingThePrinterDoesNotTakeFailsSayingWhatToDo)
{
    const std::string a = host->picture("a.bmp", 100, 50);
    CancelToken token;
    host->connection.setCancelToken(&token);
    host->connection.cutAfter = 3 + 4 + 100;
    host->connection.stallsAfterCut = true;
    auto up = makeUpload({a});
    StepResult r = runStepJob(*up, host->clock);
    ASSERT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_EQ(up->outcome(), NvUpload::Outcome::Failed);
    EXPECT_NE(r.message.find("completing the cancelled definition"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("took no data for 2000 ms"), std::string::npos) << r.message;
    EXPECT_NE(up->printerHolds().find("switch the printer off and on, then upload again"), std::string::npos)
        << up->printerHolds();
    EXPECT_EQ(host->prompter.texts().back(), "ERROR : Write to port.");
    EXPECT_EQ(host->connection.journal.back(), "close");
}

TEST_F(NvUploadTest, PrinterHangingUpMidUploadFailsClosesAndKeepsTheLog)
{
    useKind(PortKind::Serial);
    const std::string a = host->picture("a.bmp", 100, 50);
    ASSERT_TRUE(profile().writeString("LOGO", "Logofile1", "/before/1.bmp").ok());
    ASSERT_TRUE(profile().writeString("LOGO", "Logofile2", "/before/2.bmp").ok());
    host->connection.hangUpAfter = 5 + 3 + 4 + 600; // inside the second block of picture 1
    auto up = makeUpload({a, a});
    StepResult r = runStepJob(*up, host->clock);
    ASSERT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_NE(r.message.find("picture 1"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("closed the connection"), std::string::npos) << r.message;
    EXPECT_EQ(up->outcome(), NvUpload::Outcome::Failed);
    EXPECT_FALSE(host->connection.isOpen());
    EXPECT_EQ(host->connection.journal.back(), "close");
    EXPECT_EQ(LogoLog(profile()).read(), (std::vector<std::string>{"/before/1.bmp", "/before/2.bmp"}));
    EXPECT_EQ(host->prompter.texts().back(), "Communication error. Can not transimitted.");
    EXPECT_NE(host->errorLog().find("CPrograss"), std::string::npos);
    EXPECT_NE(up->printerHolds().find("upload again"), std::string::npos);
}

TEST_F(NvUploadTest, HeaderWriteFailureLogsTheFourBytes)
{
    const std::string a = host->picture("a.bmp", 100, 50);
    host->connection.hangUpAfter = 3 + 2; // the header is cut
    auto up = makeUpload({a});
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Failed);
    const std::string log = host->errorLog();
    EXPECT_NE(log.find("CPrograss writeInstruction[2]"), std::string::npos) << log;
    EXPECT_NE(log.find("CPrograss WriteInstruction [0D-00-07-00]"), std::string::npos) << log;
}

TEST_F(NvUploadTest, DefineWriteFailureLogsAndSendsNothingMore)
{
    const std::string a = host->picture("a.bmp", 8, 8);
    host->connection.hangUpAfter = 0;
    auto up = makeUpload({a});
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Failed);
    EXPECT_TRUE(host->connection.bytes.empty());
    EXPECT_NE(host->errorLog().find("CProgress OnInitDialog["), std::string::npos);
    EXPECT_TRUE(host->clock.sleeps().empty()); // no erase wait for a define that never left
}

TEST_F(NvUploadTest, RefusalsBeforeAnythingIsSent)
{
    const std::string a = host->picture("a.bmp", 8, 8);
    // No to the question.
    host->prompter.scriptAnswers({PromptAnswer::No});
    auto up = makeUpload({a});
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(up->outcome(), NvUpload::Outcome::Declined);
    EXPECT_TRUE(host->connection.journal.empty());

    // A serial port that does not open: the system error number in the message.
    useKind(PortKind::Serial);
    host->connection.failOpen = true;
    up = makeUpload({host->picture("a.bmp", 8, 8)});
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Failed);
    EXPECT_EQ(host->prompter.texts().back(), "ERROR[2] - Open port or file.");
    EXPECT_TRUE(host->connection.bytes.empty());

    // A file that changed after it was listed: found before the printer is erased.
    useKind(PortKind::Serial);
    const std::string b = host->picture("b.bmp", 8, 8);
    up = makeUpload({b});
    writeFileBytes(b, "BM gone");
    StepResult r = runStepJob(*up, host->clock);
    ASSERT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_NE(r.message.find("nothing was sent"), std::string::npos) << r.message;
    EXPECT_TRUE(host->connection.journal.empty());
}

TEST_F(NvUploadTest, SmallNvModelsGetTheNoticeAbove128KB)
{
    const std::string big = host->picture("big.bmp", 576, 232); // 576 * 29 = 16 704 bytes
    std::vector<std::string> paths(8, big);                     // 133 632 bytes: 131 KB
    auto up = makeUpload(paths, kFamilyTavro36);
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(up->outcome(), NvUpload::Outcome::Declined);
    ASSERT_EQ(host->prompter.boxes().size(), 1u);
    EXPECT_EQ(host->prompter.boxes()[0].text, "TAVRO36/38 NV graphic memory size is 128Kbytes.");
    EXPECT_EQ(host->prompter.boxes()[0].caption, "Notice");
    EXPECT_TRUE(host->connection.journal.empty());
    // Seven of them fit (114 KB) and go.
    paths.pop_back();
    host->prompter.clear();
    up = makeUpload(paths, kFamilyTavro36);
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(up->outcome(), NvUpload::Outcome::Completed);
}

TEST_F(NvUploadTest, CompletedUploadDeletesTheKeysOfTheLongerPreviousLog)
{
    const std::string a = host->picture("a.bmp", 8, 8);
    const std::string b = host->picture("b.bmp", 8, 8);
    for (int k = 1; k <= 4; ++k)
        ASSERT_TRUE(profile().writeString("LOGO", LogoLog::keyName(k), "/old.bmp").ok());
    auto up = makeUpload({b, a}, kFamilyTavro25, 4);
    ASSERT_EQ(runStepJob(*up, host->clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(LogoLog(profile()).read(), (std::vector<std::string>{b, a}));
    EXPECT_EQ(profile().getString("LOGO", "Logofile3", "none"), "none");
}

TEST_F(NvUploadTest, ClearIsSevenBytesAfterTheQuestion)
{
    struct Case {
        PortKind kind;
        Bytes prefix;
    };
    for (const auto& c : std::vector<Case>{{PortKind::File, {}},
                                           {PortKind::Serial, {0x1D, 0x49, 0x01, 0x1B, 0x40}},
                                           {PortKind::Parallel, {0x1D, 0x49, 0x01}},
                                           {PortKind::Ethernet, {}}}) {
        useKind(c.kind);
        NvClearResult r = clearNvLogos(host->deps());
        ASSERT_EQ(r.outcome, NvClearOutcome::Cleared) << r.message;
        EXPECT_EQ(host->connection.bytes, concat({c.prefix, {0x1C, 0x71, 0x01, 0x00, 0x00, 0x00, 0x00}}));
        EXPECT_EQ(host->prompter.texts().front(),
                  "No file selected. \r\nThis work delete all bitmap image in your printer.");
        EXPECT_EQ(host->connection.journal.back(), "close");
    }
    useKind(PortKind::Serial);
    host->prompter.scriptAnswers({PromptAnswer::No});
    EXPECT_EQ(clearNvLogos(host->deps()).outcome, NvClearOutcome::Declined);
    EXPECT_TRUE(host->connection.journal.empty());
    host->connection.failOpen = true;
    EXPECT_EQ(clearNvLogos(host->deps()).outcome, NvClearOutcome::Failed);
    EXPECT_EQ(host->prompter.texts().back(), "ERROR : Port open.");
}
