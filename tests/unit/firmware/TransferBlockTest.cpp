#include "firmware/TransferBlock.h"

#include "FirmwareImages.h"

#include <gtest/gtest.h>

namespace {

const FirmwareImage& patternImage()
{
    static const FirmwareImage image = *FirmwareImage::parse(makeTestImage());
    return image;
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

struct Expected {
    FirmwareArea area;
    int family;
    std::uint32_t offset, length;
    std::uint8_t code;
};

// The area table, written out per family as the printer's flash map has it.
const Expected kTable[] = {
    {FirmwareArea::Program, 1, 0x500000, 0xD0000, 0x51},   {FirmwareArea::Program, 3, 0x500000, 0xD0000, 0x51},
    {FirmwareArea::Program, 4, 0x500000, 0xD0000, 0x51},   {FirmwareArea::Program, 5, 0x300000, 0xA0000, 0x52},
    {FirmwareArea::Program, 6, 0x400000, 0xD0000, 0x51},   {FirmwareArea::ExtFont, 1, 0x600000, 0x100000, 0x46},
    {FirmwareArea::ExtFont, 5, 0x600000, 0x100000, 0x46},  {FirmwareArea::ExtFont, 6, 0x600000, 0x100000, 0x46},
    {FirmwareArea::LcdFont, 6, 0x000000, 0x200000, 0xBB},  {FirmwareArea::Downloader, 1, 0x5D0000, 0x18000, 0x44},
    {FirmwareArea::Downloader, 4, 0x5D0000, 0x18000, 0x44}, {FirmwareArea::Downloader, 5, 0x3D0000, 0x18000, 0x44},
    {FirmwareArea::Downloader, 6, 0x4D0000, 0x18000, 0x44}, {FirmwareArea::Boot, 1, 0x2E0000, 0x15000, 0x42},
    {FirmwareArea::Boot, 5, 0x2E0000, 0x15000, 0x42},      {FirmwareArea::Boot, 6, 0x2E0000, 0x15000, 0x42},
};

} // namespace

TEST(TransferBlock, EveryAreaAndFamilyCarriesItsImageRangeUnderItsHeader)
{
    const auto image = patternImage().bytes();
    for (const Expected& e : kTable) {
        SCOPED_TRACE(std::string(firmwareAreaName(e.area)) + " family " + std::to_string(e.family));
        auto block = buildTransferBlock(patternImage(), e.area, familyOfNumber(e.family));
        ASSERT_EQ(block.size(), e.length);
        EXPECT_EQ(block[0], 0x01);
        EXPECT_EQ(block[1], 0x11);
        EXPECT_EQ(block[2], e.code);
        EXPECT_EQ(block[3], 0x32);
        EXPECT_EQ(le32(block, 4), e.length);
        const std::size_t dataEnd = e.area == FirmwareArea::Boot ? e.length - 4 : e.length;
        for (std::size_t i = 10; i < dataEnd; ++i)
            ASSERT_EQ(block[i], image[e.offset + i - 10]) << "block byte " << i;
        std::uint32_t sum = 0;
        for (std::size_t i = 10; i < e.length; ++i)
            sum += block[i];
        EXPECT_EQ(block[8] | (block[9] << 8), sum & 0xFFFF);
        EXPECT_EQ(transferBlockChecksum(block), sum & 0xFFFF);
    }
}

TEST(TransferBlock, FamilySixProgramAndLcdFontRanges)
{
    const auto image = patternImage().bytes();
    auto program = buildTransferBlock(patternImage(), FirmwareArea::Program, kFamilyTavro46);
    EXPECT_EQ((std::vector<std::uint8_t>(program.begin(), program.begin() + 8)),
              (std::vector<std::uint8_t>{0x01, 0x11, 0x51, 0x32, 0x00, 0x00, 0x0D, 0x00}));
    EXPECT_EQ(program[10], image[0x400000]);
    EXPECT_EQ(program.back(), image[0x4CFFF5]);

    auto lcd = buildTransferBlock(patternImage(), FirmwareArea::LcdFont, kFamilyTavro46);
    EXPECT_EQ(lcd[10], image[0]);
    EXPECT_EQ(lcd.back(), image[0x1FFFF5]);
}

TEST(TransferBlock, BootEndsInItsMarkerWhateverTheImageHolds)
{
    for (int fill : {0x00, 0xFF, -1}) {
        auto image = *FirmwareImage::parse(makeTestImage(fill));
        auto block = buildTransferBlock(image, FirmwareArea::Boot, kFamilyTavro25);
        ASSERT_EQ(block.size(), 0x15000u);
        EXPECT_EQ((std::vector<std::uint8_t>(block.end() - 4, block.end())),
                  (std::vector<std::uint8_t>{0x00, 0x80, 0xFE, 0xFF}));
        EXPECT_EQ(block[0x14FFB], image.bytes()[0x2E0000 + 0x14FFB - 10]);
    }
    // All FF: (L - 14) bytes of FF plus 00 80 FE FF.
    auto ff = *FirmwareImage::parse(makeTestImage(0xFF));
    EXPECT_EQ(transferBlockChecksum(buildTransferBlock(ff, FirmwareArea::Boot, kFamilyTavro25)), 0xA48B);
}

TEST(TransferBlock, AllFfRangeChecksumIsLengthLessTenTimes255)
{
    auto ff = *FirmwareImage::parse(makeTestImage(0xFF));
    EXPECT_EQ(transferBlockChecksum(buildTransferBlock(ff, FirmwareArea::Program, kFamilyTavro25)), 0xF60A);
    EXPECT_EQ(transferBlockChecksum(buildTransferBlock(ff, FirmwareArea::Program, kFamilyTavro36)), 0xF60A);
    EXPECT_EQ(transferBlockChecksum(buildTransferBlock(ff, FirmwareArea::ExtFont, kFamilyTavro25)), 0xF60A);
    EXPECT_EQ(transferBlockChecksum(buildTransferBlock(ff, FirmwareArea::LcdFont, kFamilyTavro46)), 0xF60A);
    EXPECT_EQ(transferBlockChecksum(buildTransferBlock(ff, FirmwareArea::Downloader, kFamilyTavro25)), 0x760A);
    auto block = buildTransferBlock(ff, FirmwareArea::Downloader, kFamilyTavro46);
    EXPECT_EQ((std::vector<std::uint8_t>(block.begin(), block.begin() + 10)),
              (std::vector<std::uint8_t>{0x01, 0x11, 0x44, 0x32, 0x00, 0x80, 0x01, 0x00, 0x0A, 0x76}));
}

TEST(FirmwareAreaRules, WhoMayChooseWhat)
{
    // Program and Ext. Font always.
    for (int number : {1, 3, 4, 5, 6}) {
        const ModelFamily family = familyOfNumber(number);
        EXPECT_TRUE(firmwareAreaAllowed(FirmwareArea::Program, family, false, false));
        EXPECT_TRUE(firmwareAreaAllowed(FirmwareArea::ExtFont, family, false, false));
        EXPECT_EQ(firmwareAreaAllowed(FirmwareArea::LcdFont, family, true, true), family == kFamilyTavro46);
    }
    EXPECT_FALSE(firmwareAreaAllowed(FirmwareArea::Downloader, kFamilyTavro25, false, true));
    EXPECT_TRUE(firmwareAreaAllowed(FirmwareArea::Downloader, kFamilyTavro25, true, false));
    EXPECT_FALSE(firmwareAreaAllowed(FirmwareArea::Boot, kFamilyTavro25, false, true));
    EXPECT_FALSE(firmwareAreaAllowed(FirmwareArea::Boot, kFamilyTavro25, true, false));
    EXPECT_TRUE(firmwareAreaAllowed(FirmwareArea::Boot, kFamilyTavro25, true, true));

    EXPECT_EQ(firmwareAreaFromName("ext-font"), FirmwareArea::ExtFont);
    EXPECT_FALSE(firmwareAreaFromName("Program").has_value());
    // The final wait per area, floor(2 L / 20480) ms.
    EXPECT_EQ(finalWaitStepMs(0xD0000), 83u);
    EXPECT_EQ(finalWaitStepMs(0xA0000), 64u);
    EXPECT_EQ(finalWaitStepMs(0x100000), 102u);
    EXPECT_EQ(finalWaitStepMs(0x200000), 204u);
    EXPECT_EQ(finalWaitStepMs(0x18000), 9u);
    EXPECT_EQ(finalWaitStepMs(0x15000), 8u);
}
