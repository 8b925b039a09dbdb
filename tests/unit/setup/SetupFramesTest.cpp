// Byte-exact user-setting frames: the fixed frames, the request lists and the Function 5
// items with their encodings and their order.
#include "setup/SetupFrames.h"

#include <gtest/gtest.h>

namespace {

Bytes frameOf(const SetupOptions& o, ModelFamily family = kFamilyTavro46)
{
    auto frame = buildSetValueFrame(o, family);
    EXPECT_TRUE(frame.ok()) << frame.message();
    return frame.ok() ? frame->bytes : Bytes{};
}

// The items after the six-byte header, without margin and code (always last).
Bytes itemsBeforeMargin(const Bytes& frame)
{
    return Bytes(frame.begin() + 6, frame.end() - 9);
}

} // namespace

TEST(SetupFrames, FixedFrames)
{
    EXPECT_EQ(enterUserSettingFrame(), (Bytes{0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E}));
    EXPECT_EQ(endUserSettingFrame(), (Bytes{0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54}));
    EXPECT_EQ(disableAsbFrame(), (Bytes{0x1D, 0x61, 0x00}));
    EXPECT_EQ(transmitSettingFrame(250), (Bytes{0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0xFA}));
}

TEST(SetupFrames, RequestListsPerConnection)
{
    using V = std::vector<std::uint8_t>;
    EXPECT_EQ(readRequestList(PortKind::Serial),
              (V{3, 116, 118, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 1, 2, 255}));
    EXPECT_EQ(readRequestList(PortKind::Usb), readRequestList(PortKind::Serial));
    EXPECT_EQ(readRequestList(PortKind::Ethernet),
              (V{3, 116, 118, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 1, 2, 255}));
    EXPECT_EQ(readRequestList(PortKind::Parallel),
              (V{1, 2, 3, 116, 118, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 255}));
    CountedRequestList counted = lptRequestList();
    EXPECT_EQ(counted.count, 17);
    EXPECT_EQ(counted.numbers[0], 1);
    EXPECT_EQ(counted.numbers[16], 255);
    EXPECT_EQ(counted.numbers[17], 0);
}

TEST(SetupFrames, MarginAndCodeOnly)
{
    SetupOptions o;
    o.margin = 300;
    o.customCode = "0";
    EXPECT_EQ(frameOf(o), (Bytes{0x1D, 0x28, 0x45, 0x0A, 0x00, 0x05, 0xFA, 0x2C, 0x01,
                                 0xFF, 0x00, 0x00, 0x00, 0x00, 0x04}));
}

TEST(SetupFrames, TwoColorWithoutDensityWritesMedium)
{
    SetupOptions o;
    o.paperType = 1;
    Bytes f = frameOf(o);
    EXPECT_EQ(itemsBeforeMargin(f), (Bytes{0x74, 0x01, 0x01, 0x76, 0x55, 0x00}));
    EXPECT_EQ(f[3], 1 + 6 + 3 + 6);
    o.paperType = 0;
    o.colorDensity = 0;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)), (Bytes{0x74, 0x01, 0x00, 0x76, 70, 0x00}));
    o.colorDensity = 2;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)), (Bytes{0x74, 0x01, 0x00, 0x76, 100, 0x00}));
}

TEST(SetupFrames, CustomCodeParse)
{
    SetupOptions o;
    o.customCode = "1a2B";
    auto f = buildSetValueFrame(o, kFamilyTavro46);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(Bytes(f->bytes.end() - 6, f->bytes.end()), (Bytes{0xFF, 0x2B, 0x1A, 0x00, 0x00, 0x04}));
    EXPECT_FALSE(f->customCodeReset);

    for (const char* bad : {"123456789", "12G4", "", "-1", "0x12"}) {
        o.customCode = bad;
        f = buildSetValueFrame(o, kFamilyTavro46);
        ASSERT_TRUE(f.ok());
        EXPECT_EQ(Bytes(f->bytes.end() - 6, f->bytes.end()), (Bytes{0xFF, 0, 0, 0, 0, 0x04})) << bad;
        EXPECT_TRUE(f->customCodeReset) << bad;
    }
    EXPECT_EQ(parseCustomCode("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(formatCustomCode(0x1A2B), "1A2B");
    EXPECT_EQ(formatCustomCode(0), "0");
    EXPECT_EQ(formatCustomCode(0x00000ABC), "ABC");
}

TEST(SetupFrames, EveryOptionInItemOrder)
{
    SetupOptions o;
    o.btPower = 1;
    o.bell = 1;
    o.paperSave = 2;
    o.sleepMode = 3;
    o.emulation = 1;
    o.autoCut = 1;
    o.kitchenBell = 1;
    o.selfTest = 1;
    o.density = 3;
    o.usbMode = 1;
    o.lcdPassword = 0;
    o.wifiKeep = 0;
    o.paperWidth = 1;
    o.columns = 0;
    o.paperType = 1;
    o.colorDensity = 2;
    o.watermark = 1;
    o.imageNumber = 7;
    o.cutAdjust = 1;
    o.lines = 5;
    o.drawerOnCut = 1;
    o.bellType = 4;
    o.bellCount = 4;
    o.codePage = codePageIndexOf(254);
    o.nvUser = 1;
    o.nvGraphic = 2;
    o.cutMode = 1;
    o.speed = 3;
    o.boldKorean = 1;
    o.drawerSelfTest = 1;
    o.stopBit = 1;
    o.rxBuffer = 2;
    o.margin = 576;
    o.customCode = "deadbeef";
    auto f = buildSetValueFrame(o, kFamilyTavro46);
    ASSERT_TRUE(f.ok()) << f.message();
    EXPECT_TRUE(f->usbModeChange);
    const Bytes expected = {
        0x1D, 0x28, 0x45, 94, 0x00, 0x05,
        0xC4, 0x01, 0x00, 0xC6, 0x01, 0x00, 0xD5, 0x02, 0x00, 0xD4, 0x03, 0x00,
        0xCC, 0x01, 0x00, 0xCE, 0x02, 0x00, 0xCD, 0x01, 0x00, 0xCF, 0x01, 0x00,
        0xD0, 0x04, 0x00, 0xD2, 0x02, 0x00, 0xD6, 0x00, 0x00, 0xC7, 0x01, 0x0A,
        0x03, 0x02, 0x00,
        0x74, 0x01, 0x01, 0x76, 0x64, 0x00,
        0xF2, 0x00, 0x07, 0xF3, 0x01, 0x05, 0xF4, 0x00, 0x01, 0xF5, 0x00, 0x05,
        0xF6, 0xFE, 0x00, 0x01, 0x02, 0x00, 0x02, 0x03, 0x00, 0xF7, 0x01, 0x01,
        0xF9, 0x96, 0x00, 0xF8, 0x00, 0x01, 0xFB, 0x01, 0x01, 0xFD, 0x01, 0x01,
        0xFC, 0x32, 0x30, 0xFA, 0x40, 0x02,
        0xFF, 0xEF, 0xBE, 0xAD, 0xDE, 0x04};
    EXPECT_EQ(f->bytes, expected);
    EXPECT_EQ(f->bytes.size(), 6u + 94 - 1);
}

TEST(SetupFrames, SecondChoicesOfTheWriteOnlyGroup)
{
    SetupOptions o;
    o.btPower = 0;
    o.bell = 0;
    o.emulation = 0;
    o.autoCut = 0;
    o.kitchenBell = 0;
    o.selfTest = 0;
    o.density = 0;
    o.usbMode = 0;
    o.lcdPassword = 1;
    o.wifiKeep = 1;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)),
              (Bytes{0xC4, 0xFF, 0x00, 0xC6, 0x02, 0x00, 0xCC, 0x02, 0x00, 0xCE, 0x01, 0x00,
                     0xCD, 0x02, 0x00, 0xCF, 0x02, 0x00, 0xD0, 0x01, 0x00, 0xD2, 0x01, 0x00,
                     0xD6, 0xFF, 0x00, 0xC7, 0x00, 0x0A}));
}

TEST(SetupFrames, PaperWidthAndColumns)
{
    SetupOptions o;
    o.paperWidth = 1;
    o.columns = 1;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)), (Bytes{0x03, 0x03, 0x00}));
    o.columns = kNoValue; // a 58 mm form without a column entry is written as 80 mm
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)), (Bytes{0x03, 0x06, 0x00}));
    o.paperWidth = 0;
    o.columns = 0;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)), (Bytes{0x03, 0x06, 0x00}));
}

TEST(SetupFrames, ChoicesWithTheirOffStates)
{
    SetupOptions o;
    o.watermark = 0;
    o.imageNumber = 9;
    o.cutAdjust = 0;
    o.lines = 9;
    o.drawerOnCut = 0;
    o.cutMode = 0;
    o.boldKorean = 0;
    o.drawerSelfTest = 0;
    o.stopBit = 0;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)),
              (Bytes{0xF2, 0x00, 0x00, 0xF3, 0x00, 0x00, 0xF4, 0x00, 0x00, 0xF7, 0x00, 0x01,
                     0xF8, 0x01, 0x01, 0xFB, 0x00, 0x01, 0xFD, 0x00, 0x01}));
}

TEST(SetupFrames, BellTypeOrderAndDefaultCount)
{
    const std::uint8_t typeCodes[] = {1, 2, 3, 4, 0, 5};
    SetupOptions o;
    for (int entry = 0; entry < 6; ++entry) {
        o.bellType = entry;
        o.bellCount = kNoValue;
        EXPECT_EQ(itemsBeforeMargin(frameOf(o)), (Bytes{0xF5, typeCodes[entry], 3})) << entry;
    }
    o.bellType = kNoValue; // a count alone is no bell item
    o.bellCount = 1;
    EXPECT_TRUE(itemsBeforeMargin(frameOf(o)).empty());
}

TEST(SetupFrames, ReceiveBufferAsAsciiDigits)
{
    const Bytes expected[] = {{0xFC, '6', '4'}, {0xFC, '3', '2'}, {0xFC, '2', '0'}, {0xFC, '0', '4'}};
    SetupOptions o;
    for (int i = 0; i < 4; ++i) {
        o.rxBuffer = i;
        EXPECT_EQ(itemsBeforeMargin(frameOf(o)), expected[i]);
    }
}

TEST(SetupFrames, SpeedFromTheFamilysCombo)
{
    SetupOptions o;
    o.speed = 0;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o, kFamilyTavro46)), (Bytes{0xF9, 220, 0x00}));
    EXPECT_EQ(itemsBeforeMargin(frameOf(o, kFamilyTavro36)), (Bytes{0xF9, 180, 0x00}));
    o.speed = 1;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o, kFamilyTavro36)), (Bytes{0xF9, 150, 0x00}));
    o.speed = 2; // TAVRO36/38 has no third entry
    EXPECT_FALSE(buildSetValueFrame(o, kFamilyTavro36).ok());
}

TEST(SetupFrames, CodePageAndNvSizes)
{
    SetupOptions o;
    o.codePage = codePageIndexOf(52);
    o.nvUser = 4;
    o.nvGraphic = 0;
    EXPECT_EQ(itemsBeforeMargin(frameOf(o)), (Bytes{0xF6, 52, 0x00, 0x01, 0x05, 0x00, 0x02, 0x01, 0x00}));
}

TEST(SetupFrames, ValuesOutsideTheirListsAreRefused)
{
    SetupOptions o;
    o.margin = 577;
    auto f = buildSetValueFrame(o, kFamilyTavro46);
    EXPECT_FALSE(f.ok());
    EXPECT_NE(f.message().find("576"), std::string::npos);
    o.margin = 576;
    EXPECT_TRUE(buildSetValueFrame(o, kFamilyTavro46).ok());

    SetupOptions image;
    image.watermark = 1;
    image.imageNumber = 0;
    EXPECT_FALSE(buildSetValueFrame(image, kFamilyTavro46).ok());
    image.watermark = 0; // the number of a disabled water mark is not sent
    EXPECT_TRUE(buildSetValueFrame(image, kFamilyTavro46).ok());

    SetupOptions codePage;
    codePage.codePage = 33;
    EXPECT_FALSE(buildSetValueFrame(codePage, kFamilyTavro46).ok());

    SetupOptions lines;
    lines.cutAdjust = 1;
    lines.lines = 256;
    EXPECT_FALSE(buildSetValueFrame(lines, kFamilyTavro46).ok());
}
