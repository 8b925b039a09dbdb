// What the printer keeps of a flash write (a digest of the bytes, not only their count and
// sum), which printers speak the packet protocol, and the answer faults of that protocol.
#include "SimTestSupport.h"
#include "sim/PrinterState.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

// FNV-1a 64 over the bytes, written out here so the test does not trust the printer's code.
std::string fnv(const std::vector<uint8_t>& bytes, size_t from, size_t to)
{
    uint64_t h = 0xCBF29CE484222325ULL;
    for (size_t i = from; i < to; ++i) {
        h ^= bytes[i];
        h *= 0x100000001B3ULL;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "\"fnv64-%016llx\"", static_cast<unsigned long long>(h));
    return buf;
}

std::vector<uint8_t> downloaderBlock(uint8_t seed)
{
    const uint32_t L = 0x18000;
    std::vector<uint8_t> b(L);
    for (uint32_t i = 10; i < L; ++i)
        b[i] = static_cast<uint8_t>(i * seed + (i >> 8));
    uint32_t sum = 0;
    for (uint32_t i = 10; i < L; ++i)
        sum += b[i];
    const uint8_t head[10] = {0x01, 0x11, 0x44, 0x32, 0x00, 0x80, 0x01, 0x00, uint8_t(sum), uint8_t(sum >> 8)};
    std::copy(std::begin(head), std::end(head), b.begin());
    return b;
}

struct Printer {
    explicit Printer(int family = 1, InterpreterFaults faults = {}) : state(family), interp(state, sink, faults) {}
    PrinterState state;
    RecordingSink sink;
    CommandInterpreter interp;
};

std::vector<uint8_t> legacyPacket(uint8_t cmd, uint32_t address, size_t n)
{
    std::vector<uint8_t> p{0x40, cmd, uint8_t(n >> 8), uint8_t(n), uint8_t(address >> 24), uint8_t(address >> 16),
                           uint8_t(address >> 8), uint8_t(address)};
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        p.push_back(uint8_t(i));
        sum += uint8_t(i);
    }
    p.push_back(uint8_t(sum >> 8));
    p.push_back(uint8_t(sum));
    return p;
}

} // namespace

TEST(SimFlashDigest, DigestIsOfTheBytesInTheirOrder)
{
    auto block = downloaderBlock(7);
    Printer p;
    p.interp.feed(block);
    auto e = p.sink.named("firmware").back();
    EXPECT_EQ(e.field("verdict"), "\"ok\"");
    EXPECT_EQ(e.field("digest"), fnv(block, 10, block.size()));
    EXPECT_EQ("\"" + p.state.flash["download"].digest + "\"", fnv(block, 10, block.size()));

    // Two bytes swapped: same count, same checksum, different digest.
    auto swapped = block;
    std::swap(swapped[100], swapped[200]);
    ASSERT_NE(swapped[100], swapped[200]);
    Printer q;
    q.interp.feed(swapped);
    EXPECT_EQ(q.sink.named("firmware").back().field("verdict"), "\"ok\"");
    EXPECT_NE(q.state.flash["download"].digest, p.state.flash["download"].digest);
}

TEST(SimFlashDigest, DigestIsKeptInTheStateFolder)
{
    TempDir dir;
    {
        PrinterState s(1);
        s.flash["program"] = {"program", 0x51, 0xD0000, 0xF60A, "ok", "fnv64-0123456789abcdef"};
        s.flash["boot"] = {"boot", 0x42, 0x15000, 7, "refused: checksum mismatch", "fnv64-00000000000000ff"};
        s.flashDirty = true;
        std::string why;
        ASSERT_TRUE(s.save(dir.path().string(), &why)) << why;
    }
    PrinterState back(1);
    std::vector<std::string> warnings;
    ASSERT_TRUE(back.load(dir.path().string(), &warnings));
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(back.flash["program"].digest, "fnv64-0123456789abcdef");
    EXPECT_EQ(back.flash["boot"].verdict, "refused: checksum mismatch");

    // A line from before the digest was kept still loads.
    writeFileBytes(dir / "firmware.txt", "program 81 851968 62986 ok\n");
    PrinterState old(1);
    ASSERT_TRUE(old.load(dir.path().string(), &warnings));
    EXPECT_EQ(old.flash["program"].verdict, "ok");
    EXPECT_EQ(old.flash["program"].digest, "-");
}

TEST(SimLegacyProtocol, OnlyTheTavro15SpeaksIt)
{
    Printer p(1);
    p.interp.feed(hexBytes("40 F2 20 22 00 00 00 00 00 00"));
    p.interp.finish();
    EXPECT_TRUE(p.sink.replies.empty());
    EXPECT_TRUE(p.sink.named("legacy-erase").empty());

    Printer t(2);
    t.interp.feed(hexBytes("40 F2 20 22 00 00 00 00 00 00"));
    EXPECT_EQ(t.sink.replies, hexBytes("10 06"));
}

TEST(SimLegacyProtocol, ShortF0PacketBeforeTheEndIsRefusedAndDigestCoversAcceptedData)
{
    Printer p(2);
    p.interp.feed(hexBytes("40 F2 22 23 00 00 00 00 00 00"));
    p.sink.replies.clear();
    p.interp.feed(legacyPacket(0xF0, 0x1F0000, 100));
    EXPECT_EQ(p.sink.replies, hexBytes("10 15"));
    EXPECT_NE(p.sink.named("legacy-data").back().field("verdict").find("short F0"), std::string::npos);

    // The whole Boot area, 128 full packets.
    std::vector<uint8_t> data;
    for (uint32_t pos = 0x1F0000; pos < 0x200000; pos += 512) {
        auto packet = legacyPacket(pos + 512 == 0x200000 ? 0xF1 : 0xF0, pos, 512);
        data.insert(data.end(), packet.begin() + 8, packet.end() - 2);
        p.interp.feed(packet);
    }
    auto done = p.sink.named("legacy-complete");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].field("verdict"), "\"ok\"");
    EXPECT_EQ(done[0].field("digest"), fnv(data, 0, data.size()));
}

TEST(SimLegacyProtocol, AnswerFaultsSplitTheDleAndSendAStrayAck)
{
    InterpreterFaults faults;
    faults.splitDle = true;
    faults.strayAck = true;
    Printer p(2, faults);
    p.interp.feed(hexBytes("40 F2 20 22 00 00 00 00 00 00"));
    EXPECT_EQ(p.sink.replies, hexBytes("06 10 06"));
    ASSERT_EQ(p.sink.apartAt.size(), 1u);
    EXPECT_EQ(p.sink.apartAt[0], 2u); // the ACK leaves on its own, after the DLE
}
