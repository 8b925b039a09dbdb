// Each protocol's frame cut into two reads at every place, and byte by byte: the interpreter
// holds a frame's first bytes until they tell whose frame it is, hands them to that decoder,
// and takes the bytes after the frame back. Wherever a read ends, the printer must do exactly
// what it does with the frame in one read.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* decoder;
    int family;
    std::vector<uint8_t> frames;
};

// Legacy data packet: 40 F0/F1 <n BE> <address BE> <data> <sum BE>.
std::vector<uint8_t> legacyPacket(bool last, uint32_t address, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> p{0x40, static_cast<uint8_t>(last ? 0xF1 : 0xF0), static_cast<uint8_t>(data.size() >> 8),
                           static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 24),
                           static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address)};
    uint32_t sum = 0;
    for (uint8_t b : data)
        sum += b;
    return p + data + std::vector<uint8_t>{static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)};
}

std::vector<SplitCase> splitCases()
{
    // Every frame is followed by text, so that the bytes after it must come back to the router.
    const auto after = textBytes("ok\n");
    std::vector<uint8_t> picture = hexBytes("02 00 01 00");
    for (int i = 0; i < 16; ++i)
        picture.push_back(static_cast<uint8_t>(0x1B + i)); // raster that looks like commands
    // A transfer block too short for its area: refused, but read, summed and digested whole.
    auto block = hexBytes("01 11 44 32 20 00 00 00 00 00");
    for (int i = 0; i < 22; ++i)
        block.push_back(static_cast<uint8_t>(0x40 + i));
    return {
        {"receipt", 1,
         hexBytes("1B 61 01") + textBytes("centred\n") + hexBytes("1D 28 4E 02 00 30 32") + textBytes("red\n") +
             hexBytes("1D 56 41 03") + after},
        {"status", 4, hexBytes("1D 49 43 1D 61 00") + after},
        {"user setup", 1, enterMode() + fn5(hexBytes("FA 40 02 FF 2B 1A 00 00 04")) + fn6(250) + endMode() + after},
        {"NV logo", 1, hexBytes("1B 1C 71 02") + picture + hexBytes("00 00 00 00 1C 70 01 03") + after},
        {"logo settings", 1, hexBytes("1C 01 30 01 02 01 01 03 02 1C 02 30") + after},
        {"firmware block", 1, block + after},
        {"legacy packets", 2,
         hexBytes("40 F2 22 23 00 00 00 00 00 00") + legacyPacket(true, 0x1F0000, {0x01, 0x1B, 0x40}) + after},
    };
}

// Everything the printer did, in order, and what it keeps.
std::string outcome(const SplitCase& c, const std::vector<size_t>& cuts)
{
    PrinterState state(c.family);
    RecordingSink sink;
    CommandInterpreter interp(state, sink);
    size_t at = 0;
    for (size_t cut : cuts) {
        interp.feed(c.frames.data() + at, cut - at);
        at = cut;
    }
    interp.feed(c.frames.data() + at, c.frames.size() - at);
    interp.finish();
    std::string out;
    for (const SimEvent& e : sink.events)
        out += e.toJson() + "\n";
    out += "replies " + SimEvent::hexText(sink.replies) + "\nrestarts " + std::to_string(sink.restarts.size()) +
           " asb " + std::to_string(sink.asb.size()) + " flash " + std::to_string(sink.flash.size()) + "\n";
    out += "setting 250 " + SimEvent::hexText(CommandInterpreter::settingReply(state, 250)) + "\npictures " +
           std::to_string(state.pictures.size()) + " logo " + std::to_string(state.logo.topNumber) + "\n";
    for (const auto& [area, record] : state.flash)
        out += area + " " + record.verdict + " " + record.digest + "\n";
    return out;
}

TEST(SimDecoderSplit, EveryFrameCutAnywhereActsAsOneRead)
{
    for (const SplitCase& c : splitCases()) {
        const std::string whole = outcome(c, {});
        // The frame did something: an event per command and the text after it.
        ASSERT_NE(whole.find("\"text\":\"ok\""), std::string::npos) << c.decoder << "\n" << whole;
        ASSERT_EQ(whole.find("incomplete"), std::string::npos) << c.decoder << "\n" << whole;
        for (size_t cut = 1; cut < c.frames.size(); ++cut)
            ASSERT_EQ(outcome(c, {cut}), whole) << c.decoder << ", cut after byte " << cut;
        std::vector<size_t> everyByte;
        for (size_t i = 1; i < c.frames.size(); ++i)
            everyByte.push_back(i);
        EXPECT_EQ(outcome(c, everyByte), whole) << c.decoder << ", byte by byte";
    }
}

} // namespace
