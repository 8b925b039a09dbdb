#include "firmware/LegacyPackets.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes head(const Bytes& p, std::size_t n = 8) { return Bytes(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(n)); }

// Every packet of an area, as the download sends them in order.
std::vector<Bytes> allPackets(const LegacyAreaSpec& area, const Bytes& file)
{
    std::vector<Bytes> packets;
    for (std::uint32_t pos = area.start; pos < area.end;) {
        packets.push_back(legacyDataPacket(area, pos, file));
        pos += static_cast<std::uint32_t>(packets.back().size() - 10);
    }
    return packets;
}

} // namespace

TEST(LegacyPackets, ErasePacketsNameTheAreasSectors)
{
    EXPECT_EQ(legacyErasePacket(*legacyAreaSpec(LegacyArea::Program)),
              (Bytes{0x40, 0xF2, 0x20, 0x22, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(legacyErasePacket(*legacyAreaSpec(LegacyArea::Boot)), (Bytes{0x40, 0xF2, 0x22, 0x23, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(legacyErasePacket(*legacyAreaSpec(LegacyArea::Font)), (Bytes{0x40, 0xF2, 0x1C, 0x1E, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(legacyAreaSpec(LegacyArea::ExtFont).has_value());
    for (LegacyArea a : {LegacyArea::Program, LegacyArea::Boot, LegacyArea::Font}) {
        auto s = *legacyAreaSpec(a);
        EXPECT_EQ(s.firstSector, s.start / 0x10000 + 3);
        EXPECT_EQ(s.endSector, s.end / 0x10000 + 3);
    }
}

TEST(LegacyPackets, ProgramAreaFirstAndLastPacketHeads)
{
    const auto program = *legacyAreaSpec(LegacyArea::Program);
    Bytes file(0x200000);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
    auto packets = allPackets(program, file);
    ASSERT_EQ(packets.size(), 256u);
    EXPECT_EQ(head(packets.front()), (Bytes{0x40, 0xF0, 0x02, 0x00, 0x00, 0x1D, 0x00, 0x00}));
    EXPECT_EQ(head(packets.back()), (Bytes{0x40, 0xF1, 0x02, 0x00, 0x00, 0x1E, 0xFE, 0x00}));
    int f0 = 0;
    for (auto& p : packets) {
        ASSERT_EQ(p.size(), 522u);
        f0 += p[1] == 0xF0;
    }
    EXPECT_EQ(f0, 255);
    // The data is the file's own bytes at the packet's address, checksum high byte first.
    const Bytes& p = packets[5];
    const std::uint32_t address = (p[4] << 24) | (p[5] << 16) | (p[6] << 8) | p[7];
    EXPECT_EQ(address, 0x1D0000u + 5 * 512);
    std::uint32_t sum = 0;
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(p[8 + i], file[address + i]);
        sum += p[8 + i];
    }
    EXPECT_EQ(p[520], (sum >> 8) & 0xFF);
    EXPECT_EQ(p[521], sum & 0xFF);
}

TEST(LegacyPackets, BootTakesOneHundredTwentyEightPackets)
{
    auto packets = allPackets(*legacyAreaSpec(LegacyArea::Boot), Bytes(0x200000, 0x11));
    ASSERT_EQ(packets.size(), 128u);
    EXPECT_EQ(head(packets.back()), (Bytes{0x40, 0xF1, 0x02, 0x00, 0x00, 0x1F, 0xFE, 0x00}));
}

TEST(LegacyPackets, FullFfPacketChecksumIsFe00)
{
    auto p = legacyDataPacket(*legacyAreaSpec(LegacyArea::Program), 0x1D0000, Bytes(0x200000, 0xFF));
    EXPECT_EQ(p[520], 0xFE);
    EXPECT_EQ(p[521], 0x00);
}

TEST(LegacyPackets, BytesBeyondAShortFileAreZeros)
{
    const auto program = *legacyAreaSpec(LegacyArea::Program);
    // The file ends 100 bytes into the first packet.
    Bytes file(0x1D0000 + 100, 0xFF);
    auto p = legacyDataPacket(program, 0x1D0000, file);
    ASSERT_EQ(p.size(), 522u);
    EXPECT_EQ(p[8 + 99], 0xFF);
    EXPECT_EQ(p[8 + 100], 0x00);
    EXPECT_EQ(p[519], 0x00);
    const std::uint32_t sum = 100 * 255;
    EXPECT_EQ(p[520], sum >> 8);
    EXPECT_EQ(p[521], sum & 0xFF);
    // A file that ends before the area carries zeros only, and still full packets.
    auto empty = legacyDataPacket(program, 0x1EFE00, Bytes(10, 0xFF));
    EXPECT_EQ(empty.size(), 522u);
    EXPECT_EQ(empty[1], 0xF1);
    EXPECT_EQ(empty[520], 0);
    EXPECT_EQ(empty[521], 0);
}

TEST(LegacyAckParser, AnswersInAnySplit)
{
    using A = LegacyAckParser::Answer;
    LegacyAckParser parser;
    EXPECT_EQ(parser.feed(Bytes{0x10, 0x06}), (std::vector<A>{A::Ack}));
    EXPECT_EQ(parser.feed(Bytes{0x10, 0x15}), (std::vector<A>{A::Nak}));
    // DLE at the end of one read, ACK at the start of the next.
    EXPECT_TRUE(parser.feed(Bytes{0x10}).empty());
    EXPECT_EQ(parser.feed(Bytes{0x06}), (std::vector<A>{A::Ack}));
    // A lone ACK or NAK is ignored, so is any other byte after DLE.
    EXPECT_TRUE(parser.feed(Bytes{0x06, 0x15, 0x41}).empty());
    EXPECT_TRUE(parser.feed(Bytes{0x10, 0x41, 0x06}).empty());
    // Several answers in one read, with noise between.
    EXPECT_EQ(parser.feed(Bytes{0x00, 0x10, 0x15, 0x06, 0x10, 0x06}), (std::vector<A>{A::Nak, A::Ack}));
    // A reset forgets a half-heard DLE.
    EXPECT_TRUE(parser.feed(Bytes{0x10}).empty());
    parser.reset();
    EXPECT_TRUE(parser.feed(Bytes{0x06}).empty());
}
