// The printer's interpreter, checked against the protocol tables: user setting frames and their
// value texts, NV pictures, the logo frame, test pages, and input that means nothing.
#include "SimTestSupport.h"
#include "sim/NvLogoStore.h"
#include "sim/SettingTable.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Printer {
    explicit Printer(int family = 1, InterpreterFaults faults = {}) : state(family), interp(state, sink, faults) {}
    void send(const std::vector<uint8_t>& bytes) { interp.feed(bytes); }
    // One byte per feed, the worst split a transport can deliver.
    void trickle(const std::vector<uint8_t>& bytes)
    {
        for (uint8_t b : bytes)
            interp.feed(&b, 1);
    }
    std::vector<uint8_t> ask(int setting)
    {
        sink.replies.clear();
        send(fn6(setting));
        return sink.replies;
    }
    void write(const std::vector<uint8_t>& items) { send(enterMode() + fn5(items) + endMode()); }

    PrinterState state;
    RecordingSink sink;
    CommandInterpreter interp;
};

TEST(SimSettingValueText, FollowsTheValueTextTable)
{
    using SettingTable::valueText;
    // decimal of lo
    for (int n : {1, 2, 3, 118, 246, 247, 248, 251, 253})
        EXPECT_EQ(valueText(n, {7, 9}), "7") << n;
    // lo + 256 hi
    EXPECT_EQ(valueText(116, {1, 1}), "257");
    EXPECT_EQ(valueText(116, {1, 0}), "1");
    EXPECT_EQ(valueText(249, {0xDC, 0x00}), "220");
    EXPECT_EQ(valueText(249, {0x2C, 0x01}), "300");
    // 242: "1" + hi when hi != 0
    EXPECT_EQ(valueText(242, {0, 17}), "117");
    EXPECT_EQ(valueText(242, {0, 0}), "0");
    // 243: "1" + hi when lo == 1
    EXPECT_EQ(valueText(243, {1, 0}), "10");
    EXPECT_EQ(valueText(243, {1, 255}), "1255");
    EXPECT_EQ(valueText(243, {0, 5}), "0");
    EXPECT_EQ(valueText(244, {0, 1}), "1");
    EXPECT_EQ(valueText(245, {5, 3}), "53");
    // 250: hi then lo
    EXPECT_EQ(valueText(250, {0x40, 0x02}), "264");
    EXPECT_EQ(valueText(250, {0x2C, 0x01}), "144");
    EXPECT_EQ(valueText(250, {5, 0}), "05");
    // 252: the two bytes as characters
    EXPECT_EQ(valueText(252, {'6', '4'}), "64");
    EXPECT_EQ(valueText(252, {'0', '4'}), "04");
    // 255: 32-bit little-endian
    EXPECT_EQ(valueText(255, {0x2B, 0x1A, 0, 0, 4}), "6699");
    EXPECT_EQ(valueText(255, {0xFF, 0xFF, 0xFF, 0xFF, 4}), "4294967295");
    EXPECT_EQ(valueText(255, {1, 2}), std::nullopt);
}

TEST(SimUserSetting, FactoryValuesMatchTheDefaultForm)
{
    Printer p;
    EXPECT_EQ(p.ask(3), answer(3, "6"));      // 80 mm
    EXPECT_EQ(p.ask(116), answer(116, "1"));  // Black
    EXPECT_EQ(p.ask(118), answer(118, "85")); // MEDIUM
    EXPECT_EQ(p.ask(1), answer(1, "1"));      // NV user 64 KB
    EXPECT_EQ(p.ask(2), answer(2, "7"));      // NV graphic 384 KB
    EXPECT_EQ(p.ask(246), answer(246, "0"));
    EXPECT_EQ(p.ask(245), answer(245, "13")); // ZAVON Bell, 3 times
    EXPECT_EQ(p.ask(249), answer(249, "220"));
    EXPECT_EQ(p.ask(252), answer(252, "04"));
    EXPECT_EQ(p.ask(253), answer(253, "0"));
    EXPECT_EQ(p.ask(255), answer(255, "0"));

    Printer p5(5);
    EXPECT_EQ(p5.ask(2), answer(2, "3"));     // 128 KB on the TAVRO36/38
    EXPECT_EQ(p5.ask(249), answer(249, "180"));
}

TEST(SimUserSetting, FunctionOneAnswersTheModeNoticeAndFunctionTwoRestarts)
{
    Printer p;
    p.send(enterMode());
    EXPECT_EQ(p.sink.replies, hexBytes("37 20 00"));
    EXPECT_TRUE(p.state.userSettingMode);
    p.send(endMode());
    EXPECT_FALSE(p.state.userSettingMode);
    ASSERT_EQ(p.sink.restarts.size(), 1u);

    // "OUT" outside user setting mode: nothing to end, no restart.
    p.sink.clear();
    p.send(endMode());
    EXPECT_TRUE(p.sink.restarts.empty());
    // A Function 1 whose parameter is not "IN" is not the mode command.
    p.send(hexBytes("1D 28 45 03 00 01 49 4F"));
    EXPECT_FALSE(p.state.userSettingMode);
    EXPECT_TRUE(p.sink.replies.empty());
}

TEST(SimUserSetting, FunctionFiveIsKeptAndReadBackInAnySplit)
{
    // Margin 576 and custom code "1a2B", the tool's smallest write (count 10 = 1 + 3 + 6).
    auto frame = hexBytes("1D 28 45 0A 00 05 FA 40 02 FF 2B 1A 00 00 04");
    Printer p;
    p.trickle(enterMode() + frame + endMode());
    EXPECT_EQ(p.ask(250), answer(250, "264"));
    EXPECT_EQ(p.ask(255), answer(255, "6699"));
    auto five = p.sink.named("user-setting");
    ASSERT_FALSE(five.empty());
    EXPECT_EQ(p.state.settings[250], (SettingBytes{0x40, 0x02}));

    // 2Color with MEDIUM density, water mark image 17, cutting lines 4, bell type 5 count 2,
    // code page 16, receive buffer "32", full cut, speed 150.
    p.write(hexBytes("74 01 01 76 55 00 F2 00 11 F3 01 04 F5 05 02 F6 10 00 FC 33 32 F7 01 01 F9 96 00"));
    EXPECT_EQ(p.ask(116), answer(116, "257"));
    EXPECT_EQ(p.ask(118), answer(118, "85"));
    EXPECT_EQ(p.ask(242), answer(242, "117"));
    EXPECT_EQ(p.ask(243), answer(243, "14"));
    EXPECT_EQ(p.ask(245), answer(245, "52"));
    EXPECT_EQ(p.ask(246), answer(246, "16"));
    EXPECT_EQ(p.ask(252), answer(252, "32"));
    EXPECT_EQ(p.ask(247), answer(247, "1"));
    EXPECT_EQ(p.ask(249), answer(249, "150"));
}

TEST(SimUserSetting, FunctionFiveOutsideTheModeOrMalformedChangesNothing)
{
    Printer p;
    p.send(fn5(hexBytes("FA 40 02")));
    EXPECT_EQ(p.ask(250), answer(250, "00"));
    auto ev = p.sink.named("user-setting");
    ASSERT_FALSE(ev.empty());
    EXPECT_NE(ev[0].field("error").find("not in user setting mode"), std::string::npos);

    // An item cut short by the frame length is reported; the printer keeps reading after it.
    p.sink.clear();
    p.send(enterMode() + fn5(hexBytes("03 02 00 FA 40")) + endMode());
    EXPECT_EQ(p.ask(3), answer(3, "2"));
    EXPECT_EQ(p.ask(250), answer(250, "00"));
    bool reported = false;
    for (auto& e : p.sink.named("user-setting"))
        reported |= e.field("error").find("cut short") != std::string::npos;
    EXPECT_TRUE(reported);

    // Item 255 must end in 04.
    p.send(enterMode() + fn5(hexBytes("FF 01 00 00 00 05")) + endMode());
    EXPECT_EQ(p.ask(255), answer(255, "0"));
}

TEST(SimUserSetting, UnknownSettingsAndTheNoAnswerFaultGiveNoReply)
{
    InterpreterFaults faults;
    faults.noAnswerSettings = {250};
    Printer p(1, faults);
    EXPECT_TRUE(p.ask(250).empty());
    EXPECT_EQ(p.sink.events.back().field("fault"), "\"no answer\"");
    EXPECT_TRUE(p.ask(77).empty());
    EXPECT_EQ(p.ask(3), answer(3, "6"));
}

TEST(SimUserSetting, TheRefuseFaultKeepsTheOldValueOfTheChosenSettingsOnly)
{
    InterpreterFaults faults;
    faults.refuseSettings = {250};
    Printer p(1, faults);
    p.write(hexBytes("FA 40 02 03 02 00"));
    EXPECT_EQ(p.ask(250), answer(250, "00"));
    EXPECT_EQ(p.ask(3), answer(3, "2"));
    const SimEvent five = p.sink.named("user-setting").at(1);
    EXPECT_EQ(five.field("count"), "1");
    EXPECT_EQ(five.field("refused"), "1");
    EXPECT_NE(five.field("items").find("\"fault\":\"not stored\""), std::string::npos) << five.field("items");
}

TEST(SimPrinterCommands, GsIAnswersOneByteAndGsAZeroEndsStatusBack)
{
    Printer p(4);
    p.send(hexBytes("1D 49 01"));
    ASSERT_EQ(p.sink.replies.size(), 1u);
    p.send(hexBytes("1D 61 00"));
    ASSERT_EQ(p.sink.asb.size(), 1u);
    EXPECT_FALSE(p.sink.asb[0]);
    p.send(hexBytes("1D 61 FF"));
    EXPECT_TRUE(p.sink.asb[1]);
}

std::vector<uint8_t> monoPicture(int x, int y, uint8_t fill)
{
    std::vector<uint8_t> out{static_cast<uint8_t>(x & 0xFF), static_cast<uint8_t>(x >> 8),
                             static_cast<uint8_t>(y & 0xFF), static_cast<uint8_t>(y >> 8)};
    out.resize(4 + static_cast<size_t>(x) * y * 8, fill);
    return out;
}

TEST(SimNvPictures, DefineStoresEveryPictureAndPrintFindsThem)
{
    Printer p;
    // A 104×56 picture (header 0D 00 07 00, 728 bytes) and a gray one 576 dots wide.
    auto gray = hexBytes("48 A0 01 00");
    gray.resize(4 + 0x48 * 1 * 32, 0x55);
    p.trickle(hexBytes("1C 71 02") + monoPicture(13, 7, 0xF0) + gray);
    ASSERT_EQ(p.state.pictures.size(), 2u);
    EXPECT_EQ(p.state.pictures[0].widthDots(), 104);
    EXPECT_EQ(p.state.pictures[0].heightDots(), 56);
    EXPECT_EQ(p.state.pictures[0].data.size(), 728u);
    EXPECT_FALSE(p.state.pictures[0].gray);
    EXPECT_TRUE(p.state.pictures[1].gray);
    EXPECT_EQ(p.state.pictures[1].widthDots(), 576);
    EXPECT_EQ(p.sink.named("nv-define").back().field("verdict"), "\"stored\"");

    p.send(hexBytes("1C 70 02 03") + hexBytes("1B 1C 70 01 00") + hexBytes("1C 70 09 00"));
    auto prints = p.sink.named("nv-print");
    ASSERT_EQ(prints.size(), 3u);
    EXPECT_EQ(prints[0].field("defined"), "true");
    EXPECT_EQ(prints[0].field("mode"), "\"quadruple\"");
    EXPECT_EQ(prints[1].field("star"), "true");
    EXPECT_EQ(prints[2].field("defined"), "false");
}

TEST(SimNvPictures, StarPrefixClearAllAndCancelPadding)
{
    Printer p;
    p.send(hexBytes("1B 1C 71 01") + monoPicture(1, 1, 0xFF));
    ASSERT_EQ(p.state.pictures.size(), 1u);
    EXPECT_EQ(p.sink.named("nv-define").back().field("star"), "true");

    // Clear all: one empty picture.
    p.send(hexBytes("1C 71 01 00 00 00 00"));
    EXPECT_TRUE(p.state.pictures.empty());
    EXPECT_EQ(p.sink.named("nv-define").back().field("verdict"), "\"cleared\"");

    // A cancelled upload of 3 pictures padded with empty ones keeps the real one at 1.
    p.send(hexBytes("1C 71 03") + monoPicture(2, 1, 0x0F) + hexBytes("00 00 00 00 00 00 00 00"));
    ASSERT_EQ(p.state.pictures.size(), 3u);
    EXPECT_FALSE(p.state.pictures[0].empty());
    EXPECT_TRUE(p.state.pictures[2].empty());
}

TEST(SimNvPictures, DefinitionLargerThanTheGraphicMemoryIsRefusedWhole)
{
    Printer p;
    p.send(hexBytes("1C 71 01") + monoPicture(1, 1, 0xAA));
    // NV graphic memory 64 KB (code 2).
    p.write(hexBytes("02 02 00"));
    // 2 × 36 KB: the second one does not fit.
    p.send(hexBytes("1C 71 02") + monoPicture(64, 72, 0x01) + monoPicture(64, 72, 0x02) + textBytes("after\n"));
    auto def = p.sink.named("nv-define").back();
    EXPECT_NE(def.field("verdict").find("refused"), std::string::npos);
    // FS q erased the memory before the pictures came: nothing is left.
    EXPECT_TRUE(p.state.pictures.empty());
    // The bytes of the refused definition are consumed, the text after it is printed.
    EXPECT_EQ(p.sink.named("text").back().field("text"), "\"after\"");
}

TEST(SimNvPictures, PictureBeyondTheLimitsIsSkippedByItsAnnouncedSize)
{
    Printer p;
    p.send(hexBytes("1C 71 01") + monoPicture(1, 1, 0xAA));
    // 73 bytes across (584 dots) is wider than the head; its raster holds command bytes
    // that must not be obeyed, then a valid picture follows inside the same definition.
    auto wide = monoPicture(73, 1, 0x1B);
    wide[10] = 0x0A;
    p.trickle(hexBytes("1C 71 02") + wide + monoPicture(2, 1, 0x0F) + textBytes("hello\n"));
    auto defs = p.sink.named("nv-define");
    ASSERT_GE(defs.size(), 2u);
    EXPECT_NE(defs[defs.size() - 2].field("error").find("584 dots wide"), std::string::npos);
    EXPECT_NE(defs.back().field("verdict").find("refused: picture 1"), std::string::npos) << defs.back().toJson();
    EXPECT_NE(defs.back().field("verdict").find("NV memory erased"), std::string::npos);
    EXPECT_TRUE(p.state.pictures.empty());
    EXPECT_TRUE(p.sink.named("init").empty());
    ASSERT_EQ(p.sink.named("text").size(), 1u);
    EXPECT_EQ(p.sink.named("text").back().field("text"), "\"hello\"");

    // The height limit (288 bands) and the picture buffer (0x24000 bytes) hold as well.
    EXPECT_EQ(nv_store::refusal(1, 288, false), "");
    EXPECT_NE(nv_store::refusal(1, 289, false), "");
    EXPECT_EQ(nv_store::refusal(72, 256, false), ""); // 147 456 mono bytes
    EXPECT_NE(nv_store::refusal(72, 257, false), "");
    EXPECT_EQ(nv_store::refusal(72, 64, true), "");  // 147 456 gray bytes
    EXPECT_NE(nv_store::refusal(72, 65, true), "");
}

TEST(SimNvPictures, RasterBeforeTheEraseEndsIsAnErrorAndLeavesTheMemoryEmpty)
{
    Printer p;
    p.interp.setNvEraseMs(3000);
    p.interp.setNowMs(10000);
    p.send(hexBytes("1C 71 01"));
    p.interp.setNowMs(10020); // a tool that did not wait
    p.send(monoPicture(2, 1, 0x0F));
    auto defs = p.sink.named("nv-define");
    ASSERT_EQ(defs.size(), 2u);
    EXPECT_NE(defs[0].field("error").find("still erasing"), std::string::npos);
    EXPECT_EQ(defs[0].field("earlyMs"), "2980");
    EXPECT_NE(defs[1].field("verdict").find("refused"), std::string::npos);
    EXPECT_TRUE(p.state.pictures.empty());

    // Headers and empty pictures may come at once (the clear); raster after the wait is fine.
    p.sink.clear();
    p.interp.setNowMs(20000);
    p.send(hexBytes("1C 71 02 00 00 00 00"));
    p.interp.setNowMs(23500);
    p.send(monoPicture(2, 1, 0x0F));
    EXPECT_EQ(p.sink.named("nv-define").back().field("verdict"), "\"stored\"");
    ASSERT_EQ(p.state.pictures.size(), 2u);
}

TEST(SimLogoSettings, FrameIsStoredAndRestartsThePrinter)
{
    Printer p;
    p.send(hexBytes("1C 01 30 01 03 05 00 01 00 1C 02 30"));
    EXPECT_EQ(p.state.logo.topEnable, 1);
    EXPECT_EQ(p.state.logo.topNumber, 3);
    EXPECT_EQ(p.state.logo.topFlags, 5);
    EXPECT_EQ(p.state.logo.bottomEnable, 0);
    ASSERT_EQ(p.sink.restarts.size(), 1u);
    auto e = p.sink.named("logo-settings").back();
    EXPECT_EQ(e.field("topJustify"), "\"center\"");
    EXPECT_EQ(e.field("powerOn"), "true");

    // A frame with a wrong end is ignored.
    p.sink.clear();
    p.send(hexBytes("1C 01 30 01 07 00 01 02 02 1C 02 31"));
    EXPECT_EQ(p.state.logo.topNumber, 3);
    EXPECT_TRUE(p.sink.restarts.empty());
}

std::vector<uint8_t> testPage()
{
    std::vector<uint8_t> page = hexBytes("1B 40") + textBytes("USER SETUP UTILITY TEST PRINT!\n") + std::vector<uint8_t>{0};
    auto digits = textBytes("0123456789") + std::vector<uint8_t>{0};
    for (int i = 0; i < 5; ++i)
        page = page + hexBytes("1D 28 4E 02 00 30 32") + digits + hexBytes("1D 28 4E 02 00 30 31") + digits;
    page = page + hexBytes("0A 00");
    for (int b = 0x80; b <= 0xFF; ++b)
        page.push_back(static_cast<uint8_t>(b));
    page = page + hexBytes("0A 00 1B 40 0A 00 0A 00 0A 00 0A 00 1B 69");
    return page;
}

TEST(SimTestPage, IsLoggedAsTextInTwoColoursAndACut)
{
    auto page = testPage();
    ASSERT_EQ(page.size(), 358u);
    Printer p;
    p.trickle(page);
    auto texts = p.sink.named("text");
    ASSERT_GE(texts.size(), 12u);
    EXPECT_EQ(texts[0].field("text"), "\"USER SETUP UTILITY TEST PRINT!\"");
    int colour2 = 0, colour1 = 0;
    for (auto& t : texts) {
        if (t.field("text") == "\"0123456789\"")
            (t.field("color") == "2" ? colour2 : colour1)++;
    }
    EXPECT_EQ(colour2, 5);
    EXPECT_EQ(colour1, 5);
    bool charset = false;
    for (auto& t : texts)
        charset |= t.field("text").size() == 2 + 128 * 6; // 128 bytes, each \u00XX
    EXPECT_TRUE(charset);
    EXPECT_EQ(p.sink.named("cut").size(), 1u);
    EXPECT_EQ(p.sink.named("init").size(), 2u);
    EXPECT_EQ(p.sink.named("raw").size(), 0u);
}

TEST(SimSampleReceipt, TrailerIsJustifyAndCut)
{
    Printer p;
    p.send(textBytes("THANK YOU\r\n\r\n\r\n") + hexBytes("1B 61 06 0D 0A 1B 69 20 0D 0A"));
    EXPECT_EQ(p.sink.named("justify").back().field("n"), "6");
    EXPECT_EQ(p.sink.named("cut").size(), 1u);
    EXPECT_EQ(p.sink.named("text").front().field("text"), "\"THANK YOU\"");
}

TEST(SimRobustness, UnknownBytesAreRawAndRandomInputNeverBreaksTheInterpreter)
{
    Printer p;
    p.send(hexBytes("02 03 1E 1F"));
    ASSERT_EQ(p.sink.named("raw").size(), 1u);
    EXPECT_EQ(p.sink.named("raw")[0].field("bytes"), "\"02 03 1E 1F\"");
    // '@' that is no legacy packet, and SOH that is no firmware block, stay ordinary data.
    p.send(textBytes("mail@host\n") + hexBytes("01 41"));
    EXPECT_EQ(p.sink.named("text").back().field("text"), "\"mail@host\"");

    std::mt19937 rng(12345);
    for (int round = 0; round < 50; ++round) {
        Printer q;
        std::vector<uint8_t> junk(2000);
        for (auto& b : junk)
            b = static_cast<uint8_t>(rng());
        q.send(junk);
        q.interp.finish();
        // Still answers once the junk is over (a firmware or picture state that swallowed the
        // rest is left by finish()).
        EXPECT_EQ(q.ask(3), answer(3, "6")) << "round " << round;
    }
}

} // namespace

TEST(SimNvPictures, DefinitionSplitOverTwoConnectionsIsOneDefinition)
{
    PrinterState state;
    RecordingSink sinkA, sinkB;
    const auto all = hexBytes("1C 71 02") + monoPicture(2, 1, 0x0F) + monoPicture(3, 2, 0xF0);
    for (std::size_t cutAt : {std::size_t(5), std::size_t(3 + 4 + 7), std::size_t(3 + 4 + 16 + 2)}) {
        state.pictures.clear();
        sinkB.clear();
        {
            CommandInterpreter first(state, sinkA);
            first.feed(all.data(), cutAt);
            first.suspend(); // the tool's connection ends here
            first.finish();
        }
        ASSERT_TRUE(state.openDefinition.has_value()) << cutAt;
        CommandInterpreter second(state, sinkB);
        second.feed(all.data() + cutAt, all.size() - cutAt);
        ASSERT_EQ(state.pictures.size(), 2u) << cutAt;
        EXPECT_EQ(state.pictures[1].data, std::vector<uint8_t>(48, 0xF0)) << cutAt;
        EXPECT_EQ(sinkB.named("nv-define").back().field("verdict"), "\"stored\"") << cutAt;
        EXPECT_FALSE(state.openDefinition.has_value());
    }
    // A capture that ends inside a definition is still reported as cut short.
    RecordingSink sinkC;
    CommandInterpreter capture(state, sinkC);
    capture.feed(all.data(), 10);
    capture.finish();
    EXPECT_NE(sinkC.named("nv-define").back().field("verdict").find("stream ended"), std::string::npos);
}
