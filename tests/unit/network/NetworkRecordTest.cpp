// The settings record byte for byte: what a set request carries, what is read from an answer.
#include "network/NetworkSettingsRecord.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

NetworkSettings sample()
{
    NetworkSettings s;
    s.ip = {192, 168, 0, 254};
    s.mask = {255, 255, 255, 0};
    s.gateway = {192, 168, 0, 1};
    s.mac = {0x02, 0x5C, 0x3A, 0x01, 0xAB, 0xFF};
    s.dhcp = 0;
    s.port = 6001;
    return s;
}

} // namespace

TEST(NetworkRecord, SetRequestIsByteExact)
{
    const NetworkRecordBytes expected = {0xAA, 0xAA, 0x02, 192, 168, 0, 254, 255, 255, 255, 0, 192, 168, 0, 1,
                                         0x02, 0x5C, 0x3A, 0x01, 0xAB, 0xFF, 0x00, 0x17, 0x71,
                                         0, 0, 0, 0, 0, 0, 0, 0, 0, 0x55, 0x55};
    EXPECT_EQ(encodeNetworkRecord(NetworkCommand::Set, sample()), expected);
}

TEST(NetworkRecord, ApplyDiffersFromSetOnlyInTheCommandByte)
{
    auto set = encodeNetworkRecord(NetworkCommand::Set, sample());
    auto apply = encodeNetworkRecord(NetworkCommand::Apply, sample());
    for (size_t i = 0; i < kNetworkRecordSize; ++i) {
        if (i == 2)
            continue;
        EXPECT_EQ(set[i], apply[i]) << "byte " << i;
    }
    EXPECT_EQ(set[2], 0x02);
    EXPECT_EQ(apply[2], 0x04);
}

TEST(NetworkRecord, SearchRequestCarriesOnlyMarkersAndCommand)
{
    auto r = networkSearchRequest();
    EXPECT_EQ(r[0], 0xAA);
    EXPECT_EQ(r[1], 0xAA);
    EXPECT_EQ(r[33], 0x55);
    EXPECT_EQ(r[34], 0x55);
    for (size_t i = 2; i <= 32; ++i)
        EXPECT_EQ(r[i], 0) << "byte " << i;
}

TEST(NetworkRecord, SetRequestWritesDhcpAsOneAndPortBigEndian)
{
    NetworkSettings s = sample();
    s.dhcp = 2;
    s.port = 0x1234;
    auto r = encodeNetworkRecord(NetworkCommand::Set, s);
    EXPECT_EQ(r[21], 1);
    EXPECT_EQ(r[22], 0x12);
    EXPECT_EQ(r[23], 0x34);
    s.port = 515;
    r = encodeNetworkRecord(NetworkCommand::Set, s);
    EXPECT_EQ(r[22], 0x02);
    EXPECT_EQ(r[23], 0x03);
}

TEST(NetworkRecord, AnswerRoundTripsAndKeepsTheDhcpByte)
{
    NetworkSettings s = sample();
    auto bytes = encodeNetworkRecord(NetworkCommand::Search, s);
    EXPECT_EQ(decodeNetworkAnswer(bytes), s);

    bytes[21] = 2; // some modules report DHCP as 2
    bytes[22] = 0x17;
    bytes[23] = 0x71;
    NetworkSettings d = decodeNetworkAnswer(bytes);
    EXPECT_EQ(d.dhcp, 2);
    EXPECT_TRUE(d.dhcpOn());
    EXPECT_EQ(d.port, 6001);
}

TEST(NetworkRecord, AnswerIsReadFromBytes3To23Only)
{
    // Wrong markers, an odd command and trailing noise change nothing of what is read.
    auto bytes = encodeNetworkRecord(NetworkCommand::Search, sample());
    std::vector<uint8_t> odd(bytes.begin(), bytes.end());
    odd[0] = odd[1] = 0x00;
    odd[2] = 0x7F;
    odd[24] = 0xEE;
    odd[33] = odd[34] = 0x00;
    EXPECT_EQ(decodeNetworkAnswer(odd), sample());
}

TEST(NetworkRecord, ShortAnswerReadsMissingBytesAsZero)
{
    auto bytes = encodeNetworkRecord(NetworkCommand::Search, sample());
    std::vector<uint8_t> shortOne(bytes.begin(), bytes.begin() + 9); // IP and half the mask
    NetworkSettings d = decodeNetworkAnswer(shortOne);
    EXPECT_EQ(d.ip, sample().ip);
    EXPECT_EQ(d.mask, (std::array<uint8_t, 4>{255, 255, 0, 0}));
    EXPECT_EQ(d.mac, (std::array<uint8_t, 6>{}));
    EXPECT_EQ(d.port, 0);
    EXPECT_EQ(decodeNetworkAnswer({}), NetworkSettings{});
}
