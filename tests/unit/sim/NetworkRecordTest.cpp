// The 35-byte network settings record and the module's answers to search, set and apply.
#include "SimTestSupport.h"
#include "sim/NetworkRecord.h"

#include <gtest/gtest.h>

namespace {

NetworkRecord printer()
{
    NetworkRecord r;
    r.ip = {192, 168, 0, 254};
    r.mask = {255, 255, 255, 0};
    r.gateway = {192, 168, 0, 1};
    r.mac = {0x02, 0x5C, 0x3A, 0x01, 0x02, 0x03};
    r.dhcp = false;
    r.tcpPort = 6001;
    return r;
}

TEST(SimNetworkRecord, EncodesTheRecordLayout)
{
    auto bytes = printer().encode(0x00);
    EXPECT_EQ(bytes, hexBytes("AA AA 00 C0 A8 00 FE FF FF FF 00 C0 A8 00 01 02 5C 3A 01 02 03 00 17 71 "
                              "00 00 00 00 00 00 00 00 00 55 55"));
    uint8_t command = 0xFF;
    auto back = NetworkRecord::decode(bytes, &command);
    ASSERT_TRUE(back);
    EXPECT_EQ(command, 0x00);
    EXPECT_EQ(back->tcpPort, 6001);
    EXPECT_EQ(back->macText(), "02:5C:3A:01:02:03");
    // Wrong length or markers: not a record.
    auto shortOne = bytes;
    shortOne.pop_back();
    EXPECT_FALSE(NetworkRecord::decode(shortOne, nullptr));
    auto badMarker = bytes;
    badMarker[34] = 0x54;
    EXPECT_FALSE(NetworkRecord::decode(badMarker, nullptr));
    // The state file line round-trips; garbage does not parse.
    auto line = printer().toLine();
    ASSERT_TRUE(NetworkRecord::fromLine(line));
    EXPECT_EQ(NetworkRecord::fromLine(line)->encode(0), printer().encode(0));
    EXPECT_FALSE(NetworkRecord::fromLine("ip=1.2.3 mask=x"));
    EXPECT_FALSE(NetworkRecord::fromLine("ip=1.2.3.4 mask=255.0.0.0 gw=1.1.1.1 mac=02:5C:3A:01:02:03 dhcp=0 port=70000"));
}

TEST(SimNetworkRecord, EveryRecordTheModuleCanHoldLoadsAgain)
{
    // A set request may carry port 0 and an answer a DHCP byte of 2: the state file must
    // give back exactly what it was given, or the printer forgets its network on restart.
    for (uint16_t port : {uint16_t(0), uint16_t(1), uint16_t(515), uint16_t(65535)}) {
        for (uint8_t dhcp : {uint8_t(0), uint8_t(1), uint8_t(2), uint8_t(255)}) {
            NetworkRecord r = printer();
            r.tcpPort = port;
            r.dhcp = dhcp;
            auto back = NetworkRecord::fromLine(r.toLine());
            ASSERT_TRUE(back) << r.toLine();
            EXPECT_EQ(back->encode(0), r.encode(0)) << r.toLine();
        }
    }
    EXPECT_FALSE(NetworkRecord::fromLine("ip=1.2.3.4 mask=255.0.0.0 gw=1.1.1.1 mac=02:5C:3A:01:02:03 dhcp=256 port=1"));
    EXPECT_FALSE(NetworkRecord::fromLine("ip=1.2.3.4 mask=255.0.0.0 gw=1.1.1.1 mac=02:5C:3A:01:02:03 dhcp=0 port=-1"));
    EXPECT_FALSE(NetworkRecord::fromLine("ip=1.2.3.4 mask=255.0.0.0 gw=1.1.1.1 mac=02:5C:3A:01:02:03 dhcp= port=1"));
}

TEST(SimNetworkResponder, SearchSetAndApply)
{
    NetworkResponder module(printer());
    NetworkRecord search; // the tool's search request: markers and command 0 only
    search.ip = search.mask = search.gateway = {0, 0, 0, 0};
    search.mac = {};
    search.tcpPort = 0;
    auto s = module.handle(search.encode(0x00));
    ASSERT_TRUE(s.reply);
    EXPECT_EQ(*s.reply, printer().encode(0x00));

    NetworkRecord change = printer();
    change.ip = {192, 168, 1, 50};
    change.dhcp = true;
    change.tcpPort = 9100;

    // Another printer's MAC is ignored.
    NetworkRecord other = change;
    other.mac[5] = 0x99;
    EXPECT_FALSE(module.handle(other.encode(0x02)).reply);
    EXPECT_FALSE(module.handle(other.encode(0x04)).applied);

    // An apply without the set before it changes nothing.
    EXPECT_FALSE(module.handle(change.encode(0x04)).applied);
    EXPECT_EQ(module.record().ipText(), "192.168.0.254");

    auto set = module.handle(change.encode(0x02));
    ASSERT_TRUE(set.reply);
    EXPECT_EQ(*set.reply, change.encode(0x02)); // echoed
    EXPECT_EQ(module.record().ipText(), "192.168.0.254");
    auto apply = module.handle(change.encode(0x04));
    EXPECT_TRUE(apply.applied);
    EXPECT_FALSE(apply.reply);
    EXPECT_EQ(module.record().ipText(), "192.168.1.50");
    EXPECT_TRUE(module.record().dhcp);
    EXPECT_EQ(module.record().tcpPort, 9100);

    // Malformed datagrams are dropped.
    EXPECT_FALSE(module.handle(hexBytes("AA AA 00")).reply);
    EXPECT_FALSE(module.handle(std::vector<uint8_t>(36, 0xAA)).reply);
}

} // namespace
