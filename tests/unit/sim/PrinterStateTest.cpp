// The state folder: what a run leaves for the next, pictures as PNG, and bad files.
#include "SimTestSupport.h"
#include "TempDir.h"
#include "sim/CaptureDecoder.h"
#include "sim/PrinterState.h"

#include <gtest/gtest.h>

namespace {

TEST(SimPrinterState, SavesAndLoadsEveryPart)
{
    TempDir dir;
    PrinterState a(6);
    a.settings[250] = {0x40, 0x02};
    a.settings[255] = {1, 2, 3, 4, 4};
    a.logo = {1, 3, 5, 1, 7, 2};
    a.network[0].ip = {10, 0, 0, 7};
    a.network[0].tcpPort = 9100;
    a.flash["boot"] = {"boot", 0x42, 0x15000, 0x1234, "ok"};
    NvPicture p;
    p.xBytes = 1;
    p.yBytes = 1;
    p.data = {0x80, 0, 0, 0, 0, 0, 0, 0x01};
    a.pictures = {p, NvPicture{}};
    a.markAllDirty();
    std::string error;
    ASSERT_TRUE(a.save(dir.path().string(), &error)) << error;
    EXPECT_TRUE(std::filesystem::exists(dir / "nv/1.png"));
    EXPECT_TRUE(std::filesystem::exists(dir / "nv/1.raw"));
    EXPECT_EQ(readFileBytes(dir / "nv/1.png").substr(1, 3), "PNG");

    PrinterState b(6);
    std::vector<std::string> warnings;
    ASSERT_TRUE(b.load(dir.path().string(), &warnings));
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(b.settings[250], (SettingBytes{0x40, 0x02}));
    EXPECT_EQ(b.settings[255], (SettingBytes{1, 2, 3, 4, 4}));
    EXPECT_EQ(b.logo.bottomNumber, 7);
    EXPECT_EQ(b.network[0].ipText(), "10.0.0.7");
    EXPECT_EQ(b.flash["boot"].checksum, 0x1234u);
    ASSERT_EQ(b.pictures.size(), 2u);
    EXPECT_EQ(b.pictures[0].data, p.data);
    EXPECT_TRUE(b.pictures[1].empty());
}

TEST(SimPrinterState, DamagedFilesAreSkippedWithWarnings)
{
    TempDir dir;
    writeFileBytes(dir / "settings.txt", "250 40 02\n999 00 00\n3 ZZ 00\n255 01\nnonsense\n");
    writeFileBytes(dir / "logo.txt", "1 2 3\n");
    std::filesystem::create_directories(dir / "nv");
    writeFileBytes(dir / "nv/index.txt", "1 1 1 mono\n2 5000 1 mono\n");
    writeFileBytes(dir / "nv/1.raw", "short");
    PrinterState s(1);
    std::vector<std::string> warnings;
    ASSERT_TRUE(s.load(dir.path().string(), &warnings));
    EXPECT_EQ(s.settings[250], (SettingBytes{0x40, 0x02}));
    EXPECT_EQ(s.settings[3], (SettingBytes{6, 0})); // factory value kept
    EXPECT_EQ(s.settings[255], (SettingBytes{0, 0, 0, 0, 4}));
    EXPECT_TRUE(s.pictures.empty());
    EXPECT_GE(warnings.size(), 6u);
}

TEST(SimNvPicture, ColumnAndGrayRastersPrintAsTheHeadWould)
{
    NvPicture mono;
    mono.xBytes = 1;
    mono.yBytes = 2;
    mono.data.assign(16, 0);
    mono.data[0] = 0x80;      // column 0, top dot
    mono.data[2 * 3 + 1] = 1; // column 3, second band, bottom bit: dot (3, 15)
    EXPECT_EQ(mono.darkness(0, 0), 255);
    EXPECT_EQ(mono.darkness(0, 1), 0);
    EXPECT_EQ(mono.darkness(3, 15), 255);
    EXPECT_EQ(mono.darkness(3, 8), 0);

    NvPicture gray;
    gray.gray = true;
    gray.xBytes = 1;
    gray.yBytes = 1;
    gray.data.assign(32, 0);
    gray.data[0] = 0x50;  // dot (0,0) level 5, dot (1,0) white
    gray.data[4] = 0x03;  // row 1: dot (1,1) level 3
    EXPECT_EQ(gray.darkness(0, 0), 255);
    EXPECT_EQ(gray.darkness(1, 0), 0);
    EXPECT_EQ(gray.darkness(1, 1), 153);
    auto img = gray.toGrayImage();
    ASSERT_EQ(img.size(), 64u);
    EXPECT_EQ(img[0], 0);
    EXPECT_EQ(img[1], 255);
}

TEST(SimCaptureDecoder, ExplainsACaptureAndWritesItsPictures)
{
    TempDir dir;
    std::vector<uint8_t> capture = hexBytes("1B 40 1C 71 01 01 00 01 00") + std::vector<uint8_t>(8, 0xFF) +
                                   enterMode() + fn5(hexBytes("FA 40 02 FF 00 00 00 00 04")) + endMode() +
                                   hexBytes("1C 01 30 01 01 00 00 01 00 1C 02 30");
    writeFileBytes(dir / "temp.prn", std::string(capture.begin(), capture.end()));
    DecodeOptions o;
    o.file = (dir / "temp.prn").string();
    o.pngDir = (dir / "png").string();
    std::vector<std::string> lines;
    std::string error;
    ASSERT_TRUE(CaptureDecoder::decode(o, &lines, &error)) << error;
    std::string all;
    for (auto& l : lines)
        all += l + "\n";
    EXPECT_NE(all.find("init"), std::string::npos);
    EXPECT_NE(all.find("nv-define"), std::string::npos);
    EXPECT_NE(all.find("\"n\":250"), std::string::npos);
    EXPECT_NE(all.find("\"value\":\"264\""), std::string::npos);
    EXPECT_NE(all.find("logo-settings"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "png/nv-1.png"));

    o.file = (dir / "missing.prn").string();
    EXPECT_FALSE(CaptureDecoder::decode(o, &lines, &error));
    EXPECT_NE(error.find("missing.prn"), std::string::npos);
}

} // namespace
