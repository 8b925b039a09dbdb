// The bitmap list and the logo log: numbering with free numbers, the 255-file and NV limits,
// failed log entries and their single message, the texts, gray sizes.
#include "BmpBuilder.h"
#include "RecordingPrompter.h"
#include "TempDir.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "logo/BitmapList.h"
#include "logo/LogoLog.h"

#include <gtest/gtest.h>

namespace {

class BitmapListTest : public testing::Test {
protected:
    // A 1-bit W x H file: small on disk however large its predicted size.
    std::string picture(const std::string& name, int w, int h)
    {
        BmpSpec s;
        s.bpp = 1;
        s.width = w;
        s.height = h;
        s.palette = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        auto file = dir / name;
        writeFileBytes(file, asString(buildBmp(s)));
        return file.string();
    }

    TempDir dir;
    RecordingPrompter prompter;
    LogoOptions options;
    BitmapList list{prompter, options};
};

} // namespace

TEST_F(BitmapListTest, TextsAndSizes)
{
    EXPECT_EQ(list.countText(), "  0 / 255");
    EXPECT_EQ(list.sizeText(), "  0 / 384 KByte");
    ASSERT_TRUE(list.addFile(picture("a.bmp", 1, 1), 0));
    // 8 bytes (one padded column band) already use a whole KB.
    EXPECT_EQ(list.totalBytes(), 8);
    EXPECT_EQ(list.usedKB(), 1);
    EXPECT_EQ(list.sizeText(), "  1 / 384 KByte");
    EXPECT_EQ(list.countText(), "  1 / 255");
    const auto& e = list.entries().at(0);
    EXPECT_EQ(e.number, "  1");
    EXPECT_EQ(e.name, "a.bmp");
    EXPECT_EQ(e.size, "              8");
    EXPECT_EQ(e.path, (dir / "a.bmp").string());

    ASSERT_TRUE(list.addFile(picture("b.bmp", 100, 50), 0)); // 7 · 104 = 728
    EXPECT_EQ(list.totalBytes(), 736);
    ASSERT_TRUE(list.addFile(picture("c.bmp", 288, 8), 0)); // 288 → 1024 in total
    EXPECT_EQ(list.usedKB(), 1);
    ASSERT_TRUE(list.addFile(picture("d.bmp", 1, 1), 0));
    EXPECT_EQ(list.usedKB(), 2);
    EXPECT_TRUE(prompter.boxes().empty());
}

TEST_F(BitmapListTest, RemovedNumberIsReusedFirst)
{
    for (const char* n : {"1.bmp", "2.bmp", "3.bmp"})
        ASSERT_TRUE(list.addFile(picture(n, 8, 8), 0));
    ASSERT_TRUE(list.removeNumber(2));
    EXPECT_EQ(list.fileCount(), 2);
    EXPECT_EQ(list.totalBytes(), 16);
    EXPECT_FALSE(list.removeNumber(2));
    ASSERT_TRUE(list.addFile(picture("new.bmp", 8, 8), 0));
    EXPECT_EQ(list.entries().back().number, "  2");
    EXPECT_EQ(list.imageNumber(2), 2);
    // Free numbers are used up: the next file takes the count.
    ASSERT_TRUE(list.addFile(picture("next.bmp", 8, 8), 0));
    EXPECT_EQ(list.imageNumber(3), 4);
    // The upload order is by image number.
    EXPECT_EQ(list.uploadOrder(), (std::vector<int>{0, 2, 1, 3}));
}

TEST_F(BitmapListTest, NumbersFreedWhileOthersAreReusedAreNeverGivenTwice)
{
    for (const char* n : {"1.bmp", "2.bmp", "3.bmp", "4.bmp"})
        ASSERT_TRUE(list.addFile(picture(n, 8, 8), 0));
    ASSERT_TRUE(list.removeNumber(2));
    ASSERT_TRUE(list.removeNumber(4));
    ASSERT_TRUE(list.addFile(picture("a.bmp", 8, 8), 0)); // takes 2, read position 1
    ASSERT_TRUE(list.removeNumber(1));                    // 1 sorts in front of the used 2
    ASSERT_TRUE(list.addFile(picture("b.bmp", 8, 8), 0));
    ASSERT_TRUE(list.addFile(picture("c.bmp", 8, 8), 0));
    std::vector<int> numbers;
    for (int row = 0; row < list.fileCount(); ++row)
        numbers.push_back(list.imageNumber(row));
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(BitmapListTest, LogWithAGapRestoresOnlyUpToTheGap)
{
    Profile profile(dir / "tavroset.INI");
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile1", picture("one.bmp", 8, 8)).ok());
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile3", picture("three.bmp", 8, 8)).ok());
    EXPECT_EQ(list.restoreFromLog(profile), 1);
    ASSERT_EQ(list.fileCount(), 1);
    EXPECT_EQ(list.entries()[0].name, "one.bmp");
    EXPECT_EQ(list.imageNumber(0), 1);
    // An empty value ends the log as a missing key does.
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile2", "").ok());
    list.reset();
    EXPECT_EQ(list.restoreFromLog(profile), 1);
}

TEST_F(BitmapListTest, FailedLogEntriesGiveOneMessageAndFreeTheirNumbers)
{
    Profile profile(dir / "tavroset.INI");
    LogoLog log(profile);
    ASSERT_TRUE(log.write({(dir / "gone1.bmp").string(), picture("two.bmp", 8, 8), (dir / "gone3.bmp").string(),
                           picture("four.bmp", 8, 8)},
                          0)
                    .ok());
    EXPECT_EQ(list.restoreFromLog(profile), 4);
    ASSERT_EQ(list.fileCount(), 2);
    EXPECT_EQ(list.imageNumber(0), 2);
    EXPECT_EQ(list.imageNumber(1), 4);
    EXPECT_EQ(list.failedLogEntries(), (std::vector<int>{1, 3}));
    ASSERT_EQ(prompter.boxes().size(), 1u);
    EXPECT_EQ(prompter.boxes()[0].text, "Bitmap files that was defined with Log file is incorrect.");
    EXPECT_EQ(prompter.boxes()[0].icon, PromptIcon::Exclamation);

    list.reuseFailedNumbers();
    EXPECT_TRUE(list.failedLogEntries().empty());
    EXPECT_EQ(list.freeNumbers(), (std::vector<int>{1, 3}));
    ASSERT_TRUE(list.addFile(picture("a.bmp", 8, 8), 0));
    ASSERT_TRUE(list.addFile(picture("b.bmp", 8, 8), 0));
    ASSERT_TRUE(list.addFile(picture("c.bmp", 8, 8), 0));
    EXPECT_EQ(list.imageNumber(2), 1);
    EXPECT_EQ(list.imageNumber(3), 3);
    EXPECT_EQ(list.imageNumber(4), 5);
}

TEST_F(BitmapListTest, AddingBeforeReuseNeverDuplicatesANumber)
{
    // Keys 1 and 3 load, 2 failed: a file added without reuseFailedNumbers() would get the
    // count + 1 = 3, which picture 3 already has; it gets the free 2 instead.
    Profile profile(dir / "tavroset.INI");
    ASSERT_TRUE(LogoLog(profile).write({picture("1.bmp", 8, 8), (dir / "gone.bmp").string(), picture("3.bmp", 8, 8)}, 0).ok());
    list.restoreFromLog(profile);
    ASSERT_TRUE(list.addFile(picture("x.bmp", 8, 8), 0));
    EXPECT_EQ(list.imageNumber(2), 2);
}

TEST_F(BitmapListTest, TheTwoHundredFiftySixthFileIsRefused)
{
    const std::string file = picture("p.bmp", 8, 8);
    for (int i = 0; i < 255; ++i)
        ASSERT_TRUE(list.addFile(file, 0)) << i;
    EXPECT_EQ(list.countText(), "255 / 255");
    EXPECT_EQ(list.imageNumber(254), 255);
    EXPECT_FALSE(list.addFile(file, 0));
    EXPECT_EQ(list.fileCount(), 255);
    ASSERT_EQ(prompter.texts(), std::vector<std::string>{"Can't Read files any more!"});
}

TEST_F(BitmapListTest, NvLimitIsExactlyThreeHundredEightyFourKB)
{
    // Pictures one definition can carry: 576 x 1000 → 72 000 five times, 192 x 1384 → 33 216:
    // 393 216 in all.
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(list.addFile(picture("big" + std::to_string(i) + ".bmp", 576, 1000), 0));
    ASSERT_TRUE(list.addFile(picture("small.bmp", 192, 1384), 0));
    EXPECT_EQ(list.totalBytes(), 384 * 1024);
    EXPECT_EQ(list.sizeText(), "384 / 384 KByte");
    EXPECT_TRUE(prompter.boxes().empty());
    EXPECT_FALSE(list.addFile(picture("dot2.bmp", 1, 1), 0));
    EXPECT_EQ(list.fileCount(), 6);
    EXPECT_EQ(list.totalBytes(), 384 * 1024);
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{"NV-bitimage area too small"});
}

TEST_F(BitmapListTest, LogEntryBeyondTheNvLimitCountsAsFailed)
{
    Profile profile(dir / "tavroset.INI");
    ASSERT_TRUE(LogoLog(profile)
                    .write({picture("b0.bmp", 576, 1000), picture("b1.bmp", 576, 1000), picture("b2.bmp", 576, 1000),
                            picture("b3.bmp", 576, 1000), picture("b4.bmp", 576, 1000), picture("s.bmp", 192, 1384),
                            picture("one.bmp", 8, 8)},
                           0)
                    .ok());
    list.restoreFromLog(profile);
    EXPECT_EQ(list.fileCount(), 6);
    EXPECT_EQ(list.failedLogEntries(), std::vector<int>{7});
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Bitmap files that was defined with Log file is incorrect."});
}

TEST_F(BitmapListTest, MalformedFileChosenByTheUserIsRefusedWithItsReason)
{
    writeFileBytes(dir / "bad.bmp", "BM this is not a picture at all, just text");
    EXPECT_FALSE(list.addFile((dir / "bad.bmp").string(), 0));
    EXPECT_FALSE(list.addFile((dir / "missing.bmp").string(), 0));
    auto texts = prompter.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("It is not support bitmap format!\r\n(", 0), 0u) << texts[0];
    EXPECT_NE(texts[0].find("bad.bmp"), std::string::npos);
    EXPECT_EQ(texts[1].rfind("File open error!!\r\n(", 0), 0u) << texts[1];
    // Not log entries: no number 0 ends up among the free numbers.
    EXPECT_TRUE(list.failedLogEntries().empty());
    list.reuseFailedNumbers();
    ASSERT_TRUE(list.addFile(picture("ok.bmp", 8, 8), 0));
    EXPECT_EQ(list.imageNumber(0), 1);
    EXPECT_FALSE(list.lastError().size());
}

TEST_F(BitmapListTest, GraySizesCountFourTimesAndToggleBack)
{
    options.grayPrinting = true;
    ASSERT_TRUE(list.addFile(picture("g.bmp", 100, 50), 0));
    EXPECT_EQ(list.sizeBytes(0), 728 * 4);
    options.grayPrinting = false;
    ASSERT_TRUE(list.addFile(picture("m.bmp", 8, 8), 0));
    EXPECT_EQ(list.totalBytes(), 2912 + 8);

    list.scaleForGrayPrinting(true);
    EXPECT_EQ(list.entries()[0].size, "11648");
    EXPECT_EQ(list.entries()[1].size, "32");
    EXPECT_EQ(list.totalBytes(), 11680);
    EXPECT_EQ(list.sizeText(), " 11 / 384 KByte"); // total / 1024, not rounded up
    list.scaleForGrayPrinting(false);
    EXPECT_EQ(list.sizeBytes(0), 2912);
    EXPECT_EQ(list.sizeBytes(1), 8);
    EXPECT_EQ(list.totalBytes(), 2920);
}

TEST_F(BitmapListTest, ResetEmptiesEverything)
{
    ASSERT_TRUE(list.addFile(picture("a.bmp", 8, 8), 0));
    ASSERT_TRUE(list.addFile(picture("b.bmp", 8, 8), 0));
    list.removeNumber(1);
    list.setSelectedRow(0);
    list.reset();
    EXPECT_EQ(list.fileCount(), 0);
    EXPECT_EQ(list.totalBytes(), 0);
    EXPECT_TRUE(list.freeNumbers().empty());
    EXPECT_FALSE(list.selectedRow().has_value());
    EXPECT_EQ(list.countText(), "  0 / 255");
    EXPECT_EQ(list.sizeText(), "  0 / 384 KByte");
}

TEST_F(BitmapListTest, KoreanMessagesComeFromTheKoreanCatalog)
{
    selectCatalog(true);
    for (int i = 0; i < 255; ++i)
        list.addFile(picture("p.bmp", 8, 8), 0);
    list.addFile(picture("p.bmp", 8, 8), 0);
    selectCatalog(false);
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{"파일을 읽을 수 없습니다."});
}

TEST(LogoLog, WritesKeysInOrderAndDeletesStaleOnes)
{
    TempDir dir;
    Profile profile(dir / "tavroset.INI");
    ASSERT_TRUE(profile.writeString("USER", "Keep", "me").ok());
    LogoLog log(profile);
    EXPECT_EQ(LogoLog::keyName(12), "Logofile12");
    ASSERT_TRUE(log.write({"/a/1.bmp", "/a/2.bmp", "/a/3.bmp"}, 0).ok());
    EXPECT_EQ(log.read(), (std::vector<std::string>{"/a/1.bmp", "/a/2.bmp", "/a/3.bmp"}));
    ASSERT_TRUE(log.write({"/b/x.bmp"}, 3).ok());
    EXPECT_EQ(log.read(), std::vector<std::string>{"/b/x.bmp"});
    EXPECT_EQ(profile.getString("LOGO", "Logofile2", "none"), "none");
    EXPECT_EQ(profile.getString("LOGO", "Logofile3", "none"), "none");
    EXPECT_EQ(profile.getString("USER", "Keep"), "me");
}

TEST_F(BitmapListTest, PicturesOneDefinitionCannotCarryAreRefusedWhenAdded)
{
    // Height: 288 bands of 8 dots at most.
    EXPECT_TRUE(list.addFile(picture("tall.bmp", 8, 2304), 0));
    EXPECT_FALSE(list.addFile(picture("taller.bmp", 8, 2305), 0));
    EXPECT_NE(list.lastError().find("2304"), std::string::npos) << list.lastError();
    // Width: the printable area.
    EXPECT_TRUE(list.addFile(picture("wide.bmp", 576, 8), 0));
    EXPECT_FALSE(list.addFile(picture("wider.bmp", 577, 8), 0));
    // The converter's work plane: 576 x 1000 fills it, eight more rows overflow it.
    EXPECT_TRUE(list.addFile(picture("full.bmp", 576, 1000), 0));
    EXPECT_FALSE(list.addFile(picture("over.bmp", 576, 1008), 0));
    EXPECT_EQ(list.fileCount(), 3);
    const auto texts = prompter.texts();
    ASSERT_EQ(texts.size(), 3u);
    for (const auto& t : texts)
        EXPECT_EQ(t.rfind("It is not support bitmap format!\r\n(", 0), 0u) << t;
}

TEST_F(BitmapListTest, NarrowPaperBoundsTheWidthAndGrayHasNoCentring)
{
    options = LogoOptions::defaults(kFamilyTavro15);
    EXPECT_TRUE(list.addFile(picture("a.bmp", 384, 8), 0));
    EXPECT_FALSE(list.addFile(picture("b.bmp", 385, 8), 0));
    options = LogoOptions::defaults(kFamilyTavro25);
    options.grayPrinting = true;
    // Gray: four bits a dot, never centred: 576 x 512 is the most rows at full width.
    EXPECT_TRUE(list.addFile(picture("g.bmp", 576, 512), 0));
    EXPECT_FALSE(list.addFile(picture("g2.bmp", 576, 520), 0));
}

TEST_F(BitmapListTest, LogEntryTooLargeForOneDefinitionCountsAsFailed)
{
    Profile profile(dir / "tavroset.INI");
    ASSERT_TRUE(LogoLog(profile).write({picture("a.bmp", 8, 8), picture("b.bmp", 1024, 8)}, 0).ok());
    list.restoreFromLog(profile);
    EXPECT_EQ(list.fileCount(), 1);
    EXPECT_EQ(list.failedLogEntries(), std::vector<int>{2});
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Bitmap files that was defined with Log file is incorrect."});
}
