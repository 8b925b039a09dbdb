// The texts of the printer list and how typed or copied texts are read back into bytes.
#include "network/NetworkText.h"

#include <gtest/gtest.h>

using Ip = std::array<uint8_t, 4>;
using Mac = std::array<uint8_t, 6>;

TEST(NetworkText, RowColumns)
{
    NetworkSettings s;
    s.ip = {10, 0, 0, 7};
    s.mask = {255, 255, 255, 0};
    s.gateway = {10, 0, 0, 1};
    s.mac = {0x02, 0x5C, 0x3A, 0x0a, 0x0B, 0x00};
    s.port = 0x1771;
    auto row = networkPrinterRow(s);
    EXPECT_EQ(row.ip, "10.0.0.7");
    EXPECT_EQ(row.port, "6001");
    EXPECT_EQ(row.subnet, "255.255.255.0");
    EXPECT_EQ(row.gateway, "10.0.0.1");
    EXPECT_EQ(row.mac, "02:5C:3A:0A:0B:00");

    s.dhcp = 2;
    s.port = 65535;
    row = networkPrinterRow(s);
    EXPECT_EQ(row.ip, "10.0.0.7 (DHCP)");
    EXPECT_EQ(row.port, "65535");
    s.dhcp = 1;
    EXPECT_EQ(networkPrinterRow(s).ip, "10.0.0.7 (DHCP)");
}

TEST(NetworkText, DottedTextIsReadPartByPart)
{
    EXPECT_EQ(readDottedText("192.168.0.254"), (Ip{192, 168, 0, 254}));
    // The row's IP text goes into the address field suffix and all: the fourth part is the
    // rest of the text and only its leading number counts.
    EXPECT_EQ(readDottedText("192.168.0.7 (DHCP)"), (Ip{192, 168, 0, 7}));
    EXPECT_EQ(readDottedText("1.2.3"), (Ip{1, 2, 3, 0}));
    EXPECT_EQ(readDottedText(""), (Ip{0, 0, 0, 0}));
    EXPECT_EQ(readDottedText("a.b.c.d"), (Ip{0, 0, 0, 0}));
    EXPECT_EQ(readDottedText("1.2.3.4.5"), (Ip{1, 2, 3, 4}));
    EXPECT_EQ(readDottedText("300.1.1.1"), (Ip{44, 1, 1, 1})); // one byte of 300
    EXPECT_EQ(readDottedText("192.168.0.255"), (Ip{192, 168, 0, 255}));
}

TEST(NetworkText, StrictIpv4ForTypedValues)
{
    EXPECT_EQ(parseIpv4Text("192.0.2.10"), (Ip{192, 0, 2, 10}));
    EXPECT_EQ(parseIpv4Text("0.0.0.0"), (Ip{0, 0, 0, 0}));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.256", "1..2.3", "1.2.3.4 ", "a.b.c.d", "1.2.3.4.5", "0001.2.3.4"})
        EXPECT_FALSE(parseIpv4Text(bad)) << bad;
}

TEST(NetworkText, MacTextReadsBackWhatTheListWrites)
{
    Mac mac{0x02, 0x5C, 0x3A, 0xDE, 0xAD, 0x0F};
    EXPECT_EQ(macText(mac), "02:5C:3A:DE:AD:0F");
    EXPECT_EQ(readMacText(macText(mac)), mac);
    EXPECT_EQ(readMacText("02:5c:3a:de:ad:0f"), mac); // typed in lower case
    for (const char* bad : {"", "02:5C:3A:DE:AD", "02:5C:3A:DE:AD:0F:00", "02-5C-3A-DE-AD-0F", "02:5C:3A:DE:AD:0G",
                            "2:5C:3A:DE:AD:0F1", " 02:5C:3A:DE:AD:0F"})
        EXPECT_FALSE(readMacText(bad)) << bad;
}

TEST(NetworkText, HexByteOfTheManualFields)
{
    EXPECT_EQ(readHexByte("00"), 0x00);
    EXPECT_EQ(readHexByte("FF"), 0xFF);
    EXPECT_EQ(readHexByte("a9"), 0xA9);
    for (const char* bad : {"", "F", "FFF", "G0", " 1", "-1"})
        EXPECT_FALSE(readHexByte(bad)) << bad;
}

TEST(NetworkText, DhcpFromTheIpColumn)
{
    EXPECT_TRUE(ipColumnSaysDhcp("10.0.0.7 (DHCP)"));
    EXPECT_FALSE(ipColumnSaysDhcp("10.0.0.7"));
    EXPECT_FALSE(ipColumnSaysDhcp("D"));
    EXPECT_FALSE(ipColumnSaysDhcp(""));
}
