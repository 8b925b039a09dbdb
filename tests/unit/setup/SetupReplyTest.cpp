// The answer side: the byte parser, the dispatch into value codes and slots, and the
// application of a value to the form.
#include "setup/SetupReplyParser.h"
#include "setup/SetupValueCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Reply = SetupReplyParser::Reply;

std::vector<Reply> parseAll(SetupReplyParser& parser, const std::vector<std::uint8_t>& bytes)
{
    std::vector<Reply> out;
    for (auto b : bytes)
        if (auto r = parser.feed(b))
            out.push_back(*r);
    return out;
}

std::vector<std::uint8_t> frame(const std::string& number, const std::string& data)
{
    std::vector<std::uint8_t> f = {0x37, 0x27};
    f.insert(f.end(), number.begin(), number.end());
    f.push_back(0x1F);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(0x00);
    return f;
}

// Dispatch then apply, as the worker and the handler do.
bool deliver(SetupOptions& o, int number, const std::string& data, ModelFamily family = kFamilyTavro46)
{
    SetupTextSlots slots;
    auto code = dispatchReply({number, data}, slots);
    if (!code)
        return false;
    return applySetupValue(o, number, *code, slots, family);
}

} // namespace

TEST(SetupReplyParser, MarginFrame)
{
    SetupReplyParser p;
    auto replies = parseAll(p, {0x37, 0x27, 0x32, 0x35, 0x30, 0x1F, 0x31, 0x34, 0x34, 0x00});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Reply{250, "144"}));
}

TEST(SetupReplyParser, NoiseBeforeHeaderAndSecondHeaderInsideFrame)
{
    SetupReplyParser p;
    std::vector<std::uint8_t> bytes = {0x00, 0xFF, 0x41};
    // A 37 between header and identifier is skipped like any other byte there.
    auto f = frame("3", "6");
    f.insert(f.begin() + 1, 0x37);
    bytes.insert(bytes.end(), f.begin(), f.end());
    // A 37 inside the value is part of the value.
    auto g = frame("246", "7\x37");
    bytes.insert(bytes.end(), g.begin(), g.end());
    auto replies = parseAll(p, bytes);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], (Reply{3, "6"}));
    EXPECT_EQ(replies[1], (Reply{246, "77"}));
}

TEST(SetupReplyParser, OnlyTheFirstThreeDigitsCount)
{
    SetupReplyParser p;
    auto replies = parseAll(p, frame("1003", "1"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].number, 100);
    SetupOptions o;
    EXPECT_FALSE(deliver(o, 100, "1"));
    EXPECT_EQ(o, SetupOptions());
}

TEST(SetupReplyParser, ImpossibleFramesAreDroppedAndTheNextOneIsRead)
{
    SetupReplyParser p;
    std::vector<std::uint8_t> bytes = frame("250", std::string(150, '1')); // longer than the buffer
    auto bad = frame("257", "1"); // would wrap to setting 1 in 8 bits
    bytes.insert(bytes.end(), bad.begin(), bad.end());
    auto letters = frame("2A0", "1");
    bytes.insert(bytes.end(), letters.begin(), letters.end());
    auto good = frame("3", "2");
    bytes.insert(bytes.end(), good.begin(), good.end());
    auto replies = parseAll(p, bytes);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Reply{3, "2"}));
    EXPECT_EQ(p.droppedFrames(), 3);

    // 99 characters still fit.
    auto longest = parseAll(p, frame("255", std::string(99, '9')));
    ASSERT_EQ(longest.size(), 1u);
    EXPECT_EQ(longest[0].data.size(), 99u);
}

TEST(SetupReplyParser, ModeNoticeDoesNotHideTheNextReply)
{
    // The printer answers "enter user setting mode" with 37 20 00; the following reply's
    // own header is then skipped while the parser looks for the identifier.
    SetupReplyParser p;
    std::vector<std::uint8_t> bytes = {0x37, 0x20, 0x00};
    auto f = frame("252", "64");
    bytes.insert(bytes.end(), f.begin(), f.end());
    auto replies = parseAll(p, bytes);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Reply{252, "64"}));
}

TEST(SetupValueCodec, MarginDigits)
{
    EXPECT_EQ(decodeMargin("264"), 576);
    EXPECT_EQ(decodeMargin("144"), 300);
    EXPECT_EQ(decodeMargin("5"), 5);
    EXPECT_EQ(decodeMargin("05"), 5);
    EXPECT_EQ(decodeMargin("15"), 261);
    EXPECT_EQ(decodeMargin("0200"), 200);
    EXPECT_EQ(decodeMargin("1200"), 456);
    EXPECT_EQ(decodeMargin(""), std::nullopt);
    EXPECT_EQ(decodeMargin("999"), std::nullopt); // 9·256 + 99 is no margin
    EXPECT_EQ(decodeMargin("x1"), std::nullopt);
}

TEST(SetupValueCodec, DispatchCodes)
{
    SetupTextSlots s;
    EXPECT_EQ(dispatchReply({1, "5"}, s), 4);
    EXPECT_EQ(dispatchReply({1, "2"}, s), 1);
    EXPECT_EQ(dispatchReply({1, "9"}, s), 0);
    EXPECT_EQ(dispatchReply({2, "1"}, s), 0);
    EXPECT_EQ(dispatchReply({2, "6"}, s), 5);
    EXPECT_EQ(dispatchReply({2, "7"}, s), 6);
    EXPECT_EQ(dispatchReply({3, "5"}, s), std::nullopt);
    EXPECT_EQ(dispatchReply({116, "257"}, s), 2);
    EXPECT_EQ(dispatchReply({116, "1"}, s), 1);
    EXPECT_EQ(dispatchReply({116, "2"}, s), std::nullopt);
    EXPECT_EQ(dispatchReply({244, "1"}, s), 2);
    EXPECT_EQ(dispatchReply({248, "0"}, s), 1);
    EXPECT_EQ(dispatchReply({247, "x"}, s), std::nullopt);
    EXPECT_EQ(dispatchReply({251, "x"}, s), 1);
    EXPECT_EQ(dispatchReply({252, "04"}, s), 4);
    EXPECT_EQ(dispatchReply({252, "4"}, s), 4);
    EXPECT_EQ(dispatchReply({252, "16"}, s), std::nullopt);
    EXPECT_EQ(dispatchReply({253, "1"}, s), 2);
    EXPECT_EQ(dispatchReply({253, ""}, s), std::nullopt);
    EXPECT_EQ(dispatchReply({255, "4294967295"}, s), 4294967295L);
    EXPECT_EQ(dispatchReply({255, "4294967296"}, s), std::nullopt);
    EXPECT_EQ(dispatchReply({245, "13"}, s), '1');
    EXPECT_EQ(s.peek(TextSlot::BellCount), "3");
    EXPECT_EQ(dispatchReply({242, "1200"}, s), 2);
    EXPECT_EQ(s.peek(TextSlot::ImageNumber), "200");
    EXPECT_EQ(dispatchReply({7, "1"}, s), std::nullopt);
}

TEST(SetupValueCodec, TextSlotsAreCutToFit)
{
    SetupTextSlots s;
    s.store(TextSlot::Margin, std::string(40, '7'));
    EXPECT_EQ(s.take(TextSlot::Margin), std::string(15, '7'));
    EXPECT_EQ(s.peek(TextSlot::Margin), "");
}

TEST(SetupValueCodec, ApplyChoices)
{
    SetupOptions o;
    EXPECT_TRUE(deliver(o, 3, "2"));
    EXPECT_EQ(o.paperWidth, 1);
    EXPECT_EQ(o.columns, 0);
    EXPECT_TRUE(deliver(o, 3, "6"));
    EXPECT_EQ(o.paperWidth, 0);
    EXPECT_EQ(o.columns, kNoValue);
    EXPECT_FALSE(deliver(o, 3, "5")); // leaves the width untouched
    EXPECT_EQ(o.paperWidth, 0);

    EXPECT_TRUE(deliver(o, 116, "257"));
    EXPECT_EQ(o.paperType, 1);
    EXPECT_TRUE(deliver(o, 118, "70"));
    EXPECT_EQ(o.colorDensity, 0);
    EXPECT_TRUE(deliver(o, 118, "85"));
    EXPECT_EQ(o.colorDensity, 1);

    EXPECT_TRUE(deliver(o, 248, "0"));
    EXPECT_EQ(o.boldKorean, 1); // a '0' answer means ON
    EXPECT_TRUE(deliver(o, 251, "1"));
    EXPECT_EQ(o.drawerSelfTest, 1);
    EXPECT_TRUE(deliver(o, 253, "0"));
    EXPECT_EQ(o.stopBit, 0);

    EXPECT_TRUE(deliver(o, 252, "04"));
    EXPECT_EQ(o.rxBuffer, 3);
    o.rxBuffer = kNoValue;
    EXPECT_TRUE(deliver(o, 252, "4"));
    EXPECT_EQ(o.rxBuffer, 3);

    EXPECT_TRUE(deliver(o, 1, "1"));
    EXPECT_EQ(o.nvUser, 0);
    EXPECT_TRUE(deliver(o, 2, "7"));
    EXPECT_EQ(o.nvGraphic, 6);
}

TEST(SetupValueCodec, ApplyNumbersFromSlots)
{
    SetupOptions o;
    EXPECT_TRUE(deliver(o, 250, "264"));
    EXPECT_EQ(o.margin, 576);
    EXPECT_FALSE(deliver(o, 250, "999"));
    EXPECT_EQ(o.margin, 576);

    EXPECT_TRUE(deliver(o, 242, "17"));
    EXPECT_EQ(o.watermark, 1);
    EXPECT_EQ(o.imageNumber, 7);
    EXPECT_TRUE(deliver(o, 242, "0"));
    EXPECT_EQ(o.watermark, 0);
    EXPECT_TRUE(deliver(o, 243, "10"));
    EXPECT_EQ(o.cutAdjust, 1);
    EXPECT_EQ(o.lines, 0);

    EXPECT_TRUE(deliver(o, 245, "05"));
    EXPECT_EQ(o.bellType, 4); // "Other Bell(DK1)"
    EXPECT_EQ(o.bellCount, 4);
    EXPECT_TRUE(deliver(o, 245, "53"));
    EXPECT_EQ(o.bellType, 5);
    EXPECT_EQ(o.bellCount, 2);
    EXPECT_FALSE(deliver(o, 245, "1"));   // no count
    EXPECT_EQ(o.bellCount, kNoValue);

    EXPECT_TRUE(deliver(o, 246, "254"));
    EXPECT_EQ(o.codePage, 32);
    EXPECT_FALSE(deliver(o, 246, "6")); // not in the list: no selection
    EXPECT_EQ(o.codePage, kNoValue);

    EXPECT_TRUE(deliver(o, 255, "6699"));
    EXPECT_EQ(o.customCode, "1A2B");
}

TEST(SetupValueCodec, SpeedByFamily)
{
    EXPECT_EQ(decodeSpeedSelection(kFamilyTavro46, "150", -1), 3);
    EXPECT_EQ(decodeSpeedSelection(kFamilyTavro46, "180", -1), 2);
    EXPECT_EQ(decodeSpeedSelection(kFamilyTavro46, "200", -1), 1);
    EXPECT_EQ(decodeSpeedSelection(kFamilyTavro46, "999", -1), 0);
    EXPECT_EQ(decodeSpeedSelection(kFamilyTavro36, "150", -1), 1);
    EXPECT_EQ(decodeSpeedSelection(kFamilyTavro36, "180", -1), 0);
    EXPECT_EQ(decodeSpeedSelection(kFamilyTavro25II, "150", 2), 2);
    SetupOptions o;
    EXPECT_FALSE(deliver(o, 249, "150", kFamilyTavro25));
    EXPECT_EQ(o.speed, kNoValue);
    EXPECT_TRUE(deliver(o, 249, "150", kFamilyTavro36));
    EXPECT_EQ(o.speed, 1);
}

TEST(SetupOptions, DefaultsAndWriteDecision)
{
    SetupOptions fresh;
    EXPECT_FALSE(fresh.hasAnythingToWrite());
    fresh.margin = 1;
    EXPECT_TRUE(fresh.hasAnythingToWrite());
    fresh = SetupOptions();
    fresh.customCode = "00";
    EXPECT_TRUE(fresh.hasAnythingToWrite());
    fresh = SetupOptions();
    fresh.receiveError = 1; // held but never written
    EXPECT_FALSE(fresh.hasAnythingToWrite());

    SetupOptions d = SetupOptions::defaults(false);
    EXPECT_EQ(nvTotalKb(d), kNvMemoryLimitKb);
    EXPECT_EQ(d.rxBuffer, 3);
    EXPECT_EQ(d.drawerSelfTest, 1);
    SetupOptions k = SetupOptions::defaults(true);
    EXPECT_EQ(k.rxBuffer, 2);
    EXPECT_EQ(k.drawerSelfTest, 0);
    d.nvUser = 1; // 128 + 384
    EXPECT_GT(nvTotalKb(d), kNvMemoryLimitKb);
}
