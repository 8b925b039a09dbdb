// The logo tool's command bytes and the selection text: byte-exact against the values the
// printers document, and the selection's refusals.
#include "logo/LogoFrames.h"
#include "logo/LogoSelection.h"

#include <gtest/gtest.h>

using namespace logo_frames;
using Bytes = std::vector<uint8_t>;

TEST(LogoFrames, DefineClearAndPrintCommands)
{
    EXPECT_EQ(defineCommand(5, false), (Bytes{0x1C, 0x71, 0x05}));
    EXPECT_EQ(defineCommand(255, true), (Bytes{0x1B, 0x1C, 0x71, 0xFF}));
    EXPECT_EQ(clearAll(), (Bytes{0x1C, 0x71, 0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(emptyPicture(), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(printCommand(7, PrintMode::DoubleHeight, false), (Bytes{0x1C, 0x70, 0x07, 0x02}));
    EXPECT_EQ(printCommand(255, PrintMode::Quadruple, true), (Bytes{0x1B, 0x1C, 0x70, 0xFF, 0x03}));
    const std::string header = "--- Logo 7 ---\n";
    EXPECT_EQ(headerLine(7), Bytes(header.begin(), header.end()));
    EXPECT_EQ(initialise(), (Bytes{0x1B, 0x40}));
    EXPECT_EQ(printerCheck(), (Bytes{0x1D, 0x49, 0x01}));
}

TEST(LogoFrames, SettingsFrameFields)
{
    // Top logo 3, centred, also at power-on; bottom logo off with number 1, left.
    LogoSettingsValues v;
    v.topEnable = true;
    v.topNumber = 3;
    v.topJustify = LogoJustify::Center;
    v.powerOn = true;
    v.bottomEnable = false;
    v.bottomNumber = 1;
    v.bottomJustify = LogoJustify::Left;
    const std::array<uint8_t, 12> expected = {0x1C, 0x01, 0x30, 0x01, 0x03, 0x05, 0x00, 0x01, 0x00, 0x1C, 0x02, 0x30};
    EXPECT_EQ(logoSettingsFrame(v), expected);

    // The page's initial values: both off, 1 and 2, centred.
    const std::array<uint8_t, 12> initial = {0x1C, 0x01, 0x30, 0x00, 0x01, 0x01, 0x00, 0x02, 0x01, 0x1C, 0x02, 0x30};
    EXPECT_EQ(logoSettingsFrame({}), initial);

    v.topJustify = LogoJustify::Right;
    v.powerOn = false;
    v.bottomEnable = true;
    v.bottomNumber = 255;
    v.bottomJustify = LogoJustify::Right;
    auto f = logoSettingsFrame(v);
    EXPECT_EQ(f[5], 0x02);
    EXPECT_EQ(f[6], 0x01);
    EXPECT_EQ(f[7], 0xFF);
    EXPECT_EQ(f[8], 0x02);
}

TEST(LogoFrames, SampleReceiptShape)
{
    const Bytes r = sampleReceipt();
    ASSERT_EQ(r.size(), kSampleReceiptSize);
    const Bytes tail = {0x0D, 0x0A, 0x0D, 0x0A, 0x1B, 0x61, 0x06, 0x0D, 0x0A, 0x1B, 0x69, 0x20, 0x0D, 0x0A};
    ASSERT_TRUE(std::equal(tail.begin(), tail.end(), r.end() - std::ptrdiff_t(tail.size())));
    // Text lines: printable ASCII, at most 40 columns, each ended by CR LF.
    std::size_t lineStart = 0;
    int lines = 0;
    for (std::size_t i = 0; i + tail.size() < r.size(); ++i) {
        if (r[i] == 0x0D) {
            ASSERT_EQ(r[i + 1], 0x0A) << "at " << i;
            EXPECT_LE(i - lineStart, 40u) << "line " << lines;
            lineStart = i + 2;
            ++lines;
            ++i;
            continue;
        }
        ASSERT_TRUE(r[i] >= 0x20 && r[i] < 0x7F) << "byte " << int(r[i]) << " at " << i;
    }
    EXPECT_EQ(lineStart, r.size() - tail.size());
    EXPECT_GE(lines, 20);
}

TEST(LogoSelection, NumbersAndRangesInTheOrderWritten)
{
    using V = std::vector<int>;
    EXPECT_EQ(parseLogoSelection("3-5,9"), V({3, 4, 5, 9}));
    EXPECT_EQ(parseLogoSelection("12"), V({12}));
    EXPECT_EQ(parseLogoSelection(",1,255,"), V({1, 255}));
    EXPECT_EQ(parseLogoSelection("007,1-1"), V({7, 1}));
    EXPECT_EQ(parseLogoSelection("9-7"), V({9, 8, 7}));
    EXPECT_EQ(parseLogoSelection("254-255,2"), V({254, 255, 2}));
    EXPECT_EQ(parseLogoSelection("1-255")->size(), 255u);
}

TEST(LogoSelection, Refusals)
{
    for (const char* bad : {"", ",", ",,", "3,,5", "3--5", ",,3", "3,,", "0", "256", "1-256", "0-3", "3-", "-5",
                            "1-2-3", "3 ,5", "a", "3;5", "1000", "99999999999999999999", "+3", "3,-5"})
        EXPECT_FALSE(parseLogoSelection(bad).has_value()) << '"' << bad << '"';
}
