// The firmware transfer block (header, FileSize, checksum, data) per area and model family, and
// the legacy download packets with DLE ACK / DLE NAK.
#include "SimTestSupport.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

// A transfer block as the download dialog builds it: header, FileSize = L, checksum, L-10 data.
std::vector<uint8_t> block(uint8_t code, uint32_t length, uint8_t fill = 0xFF, bool bootTail = false)
{
    std::vector<uint8_t> b(length, fill);
    b[0] = 0x01;
    b[1] = 0x11;
    b[2] = code;
    b[3] = 0x32;
    b[4] = length & 0xFF;
    b[5] = (length >> 8) & 0xFF;
    b[6] = (length >> 16) & 0xFF;
    b[7] = (length >> 24) & 0xFF;
    if (bootTail) {
        b[length - 4] = 0x00;
        b[length - 3] = 0x80;
        b[length - 2] = 0xFE;
        b[length - 1] = 0xFF;
    }
    uint32_t sum = 0;
    for (size_t i = 10; i < length; ++i)
        sum += b[i];
    b[8] = sum & 0xFF;
    b[9] = (sum >> 8) & 0xFF;
    return b;
}

struct Printer {
    explicit Printer(int family = 1, InterpreterFaults faults = {}) : state(family), interp(state, sink, faults) {}
    // Feeds in chunks of 2048 bytes, as the port transfer writes.
    void send(const std::vector<uint8_t>& bytes, size_t chunk = 2048)
    {
        for (size_t i = 0; i < bytes.size(); i += chunk)
            interp.feed(bytes.data() + i, std::min(chunk, bytes.size() - i));
    }
    std::string verdict() const { return sink.named("firmware").back().field("verdict"); }
    PrinterState state;
    RecordingSink sink;
    CommandInterpreter interp;
};

TEST(SimFirmwareBlock, EveryAreaOfEveryFamilyIsVerified)
{
    struct Case {
        int family;
        uint8_t code;
        uint32_t length;
        const char* area;
    };
    const Case ok[] = {
        {1, 0x51, 0xD0000, "program"}, {6, 0x51, 0xD0000, "program"}, {5, 0x52, 0xA0000, "program"},
        {3, 0x46, 0x100000, "ext-font"}, {6, 0xBB, 0x200000, "lcd-font"}, {4, 0x44, 0x18000, "download"},
    };
    for (auto& c : ok) {
        Printer p(c.family);
        p.send(block(c.code, c.length));
        ASSERT_EQ(p.sink.named("firmware").size(), 1u) << c.area;
        EXPECT_EQ(p.verdict(), "\"ok\"") << c.area << " family " << c.family;
        auto& rec = p.state.flash[c.area];
        EXPECT_EQ(rec.size, c.length);
        // With 0xFF everywhere the checksum is (L - 10) * 255 mod 65536.
        EXPECT_EQ(rec.checksum, ((c.length - 10) * 255u) & 0xFFFF);
        ASSERT_EQ(p.sink.flash.size(), 1u);
    }
    // The other family's program code, LCD font outside family 6, any block on the TAVRO15.
    const Case refused[] = {{5, 0x51, 0xD0000, ""}, {1, 0x52, 0xA0000, ""}, {1, 0xBB, 0x200000, ""}, {2, 0x44, 0x18000, ""}};
    for (auto& c : refused) {
        Printer p(c.family);
        p.send(block(c.code, c.length));
        EXPECT_NE(p.verdict().find("refused"), std::string::npos) << int(c.code) << " family " << c.family;
    }
}

TEST(SimFirmwareBlock, ChecksumLengthAndBootTailAreChecked)
{
    Printer p;
    auto b = block(0x44, 0x18000, 0x5A);
    b[100] ^= 0x01;
    p.send(b);
    EXPECT_NE(p.verdict().find("checksum"), std::string::npos);

    // A FileSize that is not the area's length is received and refused.
    Printer q;
    q.send(block(0x44, 0x20000) + textBytes("next\n"));
    EXPECT_NE(q.verdict().find("FileSize"), std::string::npos);
    EXPECT_EQ(q.sink.named("text").back().field("text"), "\"next\"");

    Printer boot;
    boot.send(block(0x42, 0x15000, 0xFF, true));
    EXPECT_EQ(boot.verdict(), "\"ok\"");
    Printer badBoot;
    badBoot.send(block(0x42, 0x15000, 0xFF, false));
    EXPECT_NE(badBoot.verdict().find("00 80 FE FF"), std::string::npos);

    // An absurd FileSize is refused at once and what follows is ordinary data.
    Printer absurd;
    absurd.send(hexBytes("01 11 51 32 FF FF FF 7F 00 00") + textBytes("ok\n"));
    EXPECT_NE(absurd.verdict().find("out of range"), std::string::npos);
    EXPECT_EQ(absurd.sink.named("text").back().field("text"), "\"ok\"");

    // A stream that ends inside the block says so.
    Printer cut;
    auto whole = block(0x44, 0x18000);
    cut.send(std::vector<uint8_t>(whole.begin(), whole.begin() + 5000));
    cut.interp.finish();
    EXPECT_NE(cut.verdict().find("ended inside"), std::string::npos);
}

// Legacy packets: erase 40 F2 s1 s2 00*6; data 40 F0/F1 n(BE16) addr(BE32) data cs(BE16).
std::vector<uint8_t> dataPacket(uint32_t address, size_t n, bool last, uint8_t fill = 0xFF, bool breakSum = false)
{
    std::vector<uint8_t> p{0x40, static_cast<uint8_t>(last ? 0xF1 : 0xF0), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(address >> 24),
                           static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address)};
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        p.push_back(fill);
        sum += fill;
    }
    if (breakSum)
        ++sum;
    p.push_back(static_cast<uint8_t>((sum >> 8) & 0xFF));
    p.push_back(static_cast<uint8_t>(sum & 0xFF));
    return p;
}

const std::vector<uint8_t> kAck{0x10, 0x06};
const std::vector<uint8_t> kNak{0x10, 0x15};

TEST(SimLegacyDownload, ProgramAreaIsErasedWrittenAndCompleted)
{
    Printer p(2);
    p.send(hexBytes("40 F2 20 22 00 00 00 00 00 00"));
    EXPECT_EQ(p.sink.replies, kAck);
    uint32_t pos = 0x1D0000;
    int packets = 0;
    while (pos < 0x1F0000) {
        size_t n = std::min<uint32_t>(512, 0x1F0000 - pos);
        bool last = pos + 512 >= 0x1F0000;
        p.sink.replies.clear();
        auto packet = dataPacket(pos, n, last);
        if (packets == 0) {
            EXPECT_EQ(std::vector<uint8_t>(packet.begin(), packet.begin() + 8), hexBytes("40 F0 02 00 00 1D 00 00"));
        }
        if (last) {
            EXPECT_EQ(std::vector<uint8_t>(packet.begin(), packet.begin() + 8), hexBytes("40 F1 02 00 00 1E FE 00"));
            // 512 × FF: checksum FE 00.
            EXPECT_EQ(packet[packet.size() - 2], 0xFE);
            EXPECT_EQ(packet[packet.size() - 1], 0x00);
        }
        p.send(packet, 7);
        ASSERT_EQ(p.sink.replies, kAck) << "packet " << packets;
        pos += static_cast<uint32_t>(n);
        ++packets;
    }
    EXPECT_EQ(packets, 256);
    auto done = p.sink.named("legacy-complete");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].field("verdict"), "\"ok\"");
    EXPECT_EQ(p.state.flash["legacy-program"].size, 0x20000u);
}

TEST(SimLegacyDownload, BadPacketsAreNakedAndTheNakFaultHitsEveryKthFirstTry)
{
    Printer p(2);
    // Data before any erase.
    p.send(dataPacket(0x1F0000, 512, false));
    EXPECT_EQ(p.sink.replies, kNak);
    // Unknown sectors.
    p.sink.replies.clear();
    p.send(hexBytes("40 F2 20 23 00 00 00 00 00 00"));
    EXPECT_EQ(p.sink.replies, kNak);
    // Boot area erase, then a bad checksum, then the same packet sound.
    p.sink.replies.clear();
    p.send(hexBytes("40 F2 22 23 00 00 00 00 00 00"));
    p.send(dataPacket(0x1F0000, 512, false, 0x11, true));
    p.send(dataPacket(0x1F0000, 512, false, 0x11));
    EXPECT_EQ(p.sink.replies, kAck + kNak + kAck);
    // Out of sequence.
    p.sink.replies.clear();
    p.send(dataPacket(0x1F1000, 512, false));
    EXPECT_EQ(p.sink.replies, kNak);

    InterpreterFaults faults;
    faults.nakEvery = 3;
    Printer f(2, faults);
    f.send(hexBytes("40 F2 1C 1E 00 00 00 00 00 00"));
    std::vector<uint8_t> expected = kAck;
    uint32_t pos = 0x190000;
    for (int i = 1; i <= 6; ++i) {
        f.send(dataPacket(pos, 512, false));
        if (i % 3 == 0) {
            expected = expected + kNak;
            f.send(dataPacket(pos, 512, false)); // the tool sends it again
        }
        expected = expected + kAck;
        pos += 512;
    }
    EXPECT_EQ(f.sink.replies, expected);
}

} // namespace

TEST(SimFirmwareBlock, AnInterruptedAreaSilencesThePrinterUntilItIsDownloadedWhole)
{
    // GS ( E Function 6 for setting 1, GS I 1, and a line of text.
    const std::vector<uint8_t> requests{0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0x01, 0x1D, 0x49, 0x01, 'H', 'i', '\n'};
    const auto whole = block(0x44, 0x18000, 0x3C);
    Printer p(1);
    p.send(std::vector<uint8_t>(whole.begin(), whole.begin() + 0x8000));
    p.interp.finish(); // the connection ended half-way
    ASSERT_EQ(p.state.incomplete.count("download"), 1u);
    EXPECT_NE(p.state.incomplete["download"].find("of 98294 data bytes"), std::string::npos) << p.state.incomplete["download"];
    ASSERT_FALSE(p.sink.named("firmware-area").empty());
    EXPECT_EQ(p.sink.named("firmware-area").front().field("state"), "\"unfinished\"");

    // The next connection: nothing is answered or printed, and the state survives a restart.
    TempDir dir;
    p.state.markAllDirty();
    std::string why;
    ASSERT_TRUE(p.state.save(dir.path().string(), &why)) << why;
    PrinterState restarted(1);
    ASSERT_TRUE(restarted.load(dir.path().string(), nullptr));
    ASSERT_TRUE(restarted.firmwareIncomplete());
    RecordingSink sink;
    CommandInterpreter next(restarted, sink);
    next.feed(requests);
    EXPECT_TRUE(sink.replies.empty());
    EXPECT_TRUE(sink.named("user-setting").empty());
    ASSERT_FALSE(sink.named("ignored").empty());
    EXPECT_NE(sink.named("ignored").front().field("reason").find("download"), std::string::npos);

    // The whole area brings it back.
    next.feed(whole);
    EXPECT_FALSE(restarted.firmwareIncomplete());
    EXPECT_EQ(sink.named("firmware-area").back().field("state"), "\"complete\"");
    next.feed(requests);
    EXPECT_FALSE(sink.replies.empty()) << "answers again";
    EXPECT_FALSE(sink.named("user-setting").empty());
}

TEST(SimLegacyPackets, AnErasedAreaStaysIncompleteUntilItsLastPacket)
{
    Printer p(2);
    p.send({0x40, 0xF2, 0x22, 0x23, 0, 0, 0, 0, 0, 0}); // erase Boot
    ASSERT_EQ(p.state.incomplete.count("legacy-boot"), 1u);
    p.sink.replies.clear();
    p.send({0x1D, 0x49, 0x01});
    EXPECT_TRUE(p.sink.replies.empty());
    for (uint32_t at = 0x1F0000; at < 0x200000; at += 512) {
        std::vector<uint8_t> packet{0x40, uint8_t(at + 512 >= 0x200000 ? 0xF1 : 0xF0), 0x02, 0x00,
                                    uint8_t(at >> 24), uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at)};
        packet.insert(packet.end(), 512, 0x01);
        packet.push_back(0x02); // 512 * 1 = 0x0200
        packet.push_back(0x00);
        p.send(packet);
    }
    EXPECT_FALSE(p.state.firmwareIncomplete());
    p.sink.replies.clear();
    p.send({0x1D, 0x49, 0x01});
    EXPECT_FALSE(p.sink.replies.empty());
}
