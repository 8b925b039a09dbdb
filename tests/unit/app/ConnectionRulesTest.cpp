#include "app/ConnectionRules.h"
#include "app/PortName.h"

#include <gtest/gtest.h>

TEST(ConnectionRules, DeviceChangeFamilyFirstMatch)
{
    EXPECT_EQ(familyForDeviceChange("TAVRO15 S"), kFamilyTavro15);
    EXPECT_EQ(familyForDeviceChange("TAVRO25II U-II"), kFamilyTavro25II); // before "TAVRO25"
    EXPECT_EQ(familyForDeviceChange("QMX-5170 S"), kFamilyTavro25II);
    EXPECT_EQ(familyForDeviceChange("TAVRO25 S"), kFamilyTavro25);
    EXPECT_EQ(familyForDeviceChange("WAN550 P"), kFamilyTavro25);
    EXPECT_EQ(familyForDeviceChange("ZQR-4000 S"), kFamilyTavro44i);
    EXPECT_EQ(familyForDeviceChange("TAVRO36/38 U-I"), kFamilyTavro36);
    EXPECT_EQ(familyForDeviceChange("TAVRO46/48 E-II"), kFamilyTavro46);
    EXPECT_EQ(familyForDeviceChange("T46 S"), kFamilyTavro44i);
    EXPECT_EQ(familyForDeviceChange("NRX-80 S"), kFamilyTavro36);
    EXPECT_EQ(familyForDeviceChange("DK61 S"), kFamilyTavro46);
    EXPECT_EQ(familyForDeviceChange("VB-90 S"), kFamilyTavro46);
    EXPECT_EQ(familyForDeviceChange("Other S"), kFamilyNone);
}

TEST(ConnectionRules, OkFamilyUsesItsOwnTable)
{
    EXPECT_EQ(familyForOk("TAVRO15 S"), kFamilyTavro15);
    EXPECT_EQ(familyForOk("QMX-5170 S"), kFamilyTavro25II);
    EXPECT_EQ(familyForOk("QMX-51 S"), kFamilyTavro25); // only the long prefix here
    EXPECT_EQ(familyForOk("NRX-80 S"), kFamilyTavro36);
    for (const char* name : {"TAVRO25 S", "WAN550 S", "T46 S", "DK61 S", "VB-90 S", "unknown"})
        EXPECT_EQ(familyForOk(name), kFamilyTavro25) << name;
}

TEST(ConnectionRules, InterfaceBySuffix)
{
    EXPECT_EQ(interfaceKindOf("TAVRO36/38 E-II", kFamilyTavro36), kInterfaceEthernet);
    EXPECT_EQ(interfaceKindOf("TAVRO36/38 W", kFamilyTavro36), kInterfaceWireless);
    EXPECT_EQ(interfaceKindOf("TAVRO36/38 U-II", kFamilyTavro36), kInterfaceUsbPrinter);
    EXPECT_EQ(interfaceKindOf("TAVRO15 U-II", kFamilyTavro15), kInterfaceNone);
    EXPECT_EQ(interfaceKindOf("TAVRO36/38 P", kFamilyTavro36), kInterfaceParallel);
    EXPECT_EQ(interfaceKindOf("TAVRO36/38 S", kFamilyTavro36), kInterfaceSerial);
    EXPECT_EQ(interfaceKindOf("TAVRO36/38 U-I", kFamilyTavro36), kInterfaceUsbSerial);
    EXPECT_EQ(interfaceKindOf("TAVRO36/38 X", kFamilyTavro36), kInterfaceNone);
}

TEST(ConnectionRules, UsbIds)
{
    EXPECT_TRUE(usbSearchIds(kFamilyTavro15).empty());
    EXPECT_EQ(usbSearchIds(kFamilyTavro25II), std::vector<std::string>{"USB\\VID_5A3E&PID_0102"});
    EXPECT_EQ(usbOpenIds(kFamilyTavro25II), std::vector<std::string>{"USB\\VID_5A3E&PID_3004"});
    EXPECT_EQ(usbOpenIds(kFamilyTavro15), std::vector<std::string>{"USB\\VID_5A3E&PID_0101"});
    EXPECT_EQ(usbSearchIds(kFamilyTavro36),
              (std::vector<std::string>{"USB\\VID_5A3E&PID_3302", "USB\\VID_5A3E&PID_3304"}));
    EXPECT_EQ(usbOpenIds(kFamilyTavro46),
              (std::vector<std::string>{"USB\\VID_5A3E&PID_3312", "USB\\VID_5A3E&PID_3314"}));
    EXPECT_EQ(virtualSerialId(kFamilyTavro44i), "USB\\VID_5A3E&PID_3003");
    EXPECT_EQ(virtualSerialId(kFamilyTavro46), "USB\\VID_5A3E&PID_3311");
    EXPECT_EQ(virtualSerialId(kFamilyTavro15), "USB\\VID_5A3E&PID_3301");
}

TEST(ConnectionRules, SerialSummaryIsSixLines)
{
    ConnectionSettings s;
    s.portName = "COM3";
    s.baudRate = 115200;
    s.byteSize = 8;
    s.parity = 0;
    s.flowCtrl = 1;
    s.stopBits = stopBitsCode("1");
    s.modelFamily = familyForOk("TAVRO36/38 S");
    EXPECT_EQ(connectionSummary(s), "TAVRO36/38 - COM3\r\nBaud : 115200\r\nData : 8 bit\r\nNone Parity\r\n"
                                    "H/W Flow control\r\nOne Stop Bit");
    s.portName = "/dev/ttyUSB0";
    s.parity = 2;
    s.flowCtrl = 3;
    s.stopBits = stopBitsCode("2");
    s.byteSize = 7;
    s.baudRate = 9600;
    s.modelFamily = kFamilyTavro15;
    EXPECT_EQ(connectionSummary(s), "TAVRO15 - /dev/ttyUSB0\r\nBaud : 9600\r\nData : 7 bit\r\nEven Parity\r\n"
                                    "None Flow control\r\nTwo Stop Bits");
}

TEST(ConnectionRules, OtherSummaries)
{
    ConnectionSettings s;
    s.portName = "USB";
    s.modelFamily = kFamilyTavro46;
    EXPECT_EQ(connectionSummary(s), "TAVRO \r\nUSB-II Interface");
    s.portName = "LPT1";
    s.modelFamily = kFamilyTavro36;
    EXPECT_EQ(connectionSummary(s), "TAVRO36/38 - LPT1");
    s.portName = "ETHERNET_II";
    s.modelFamily = kFamilyTavro25II; // labelled as TAVRO25
    EXPECT_EQ(connectionSummary(s), "TAVRO25 - ETHERNET_II");
    EXPECT_EQ(stopBitsCode("1.5"), 1);
    EXPECT_EQ(stopBitsCode(""), 0);
}

TEST(PortName, KindsAndDevicePaths)
{
    EXPECT_EQ(portKindOf("COM3"), PortKind::Serial);
    EXPECT_EQ(portKindOf("/dev/ttyUSB0"), PortKind::Serial);
    EXPECT_EQ(portKindOf("/tmp/run/ttySIM0"), PortKind::Serial);
    EXPECT_EQ(portKindOf("LPT1"), PortKind::Parallel);
    EXPECT_EQ(portKindOf("/dev/lp0"), PortKind::Parallel);
    EXPECT_EQ(portKindOf("/dev/parport0"), PortKind::Parallel);
    EXPECT_EQ(portKindOf("usb"), PortKind::Usb);
    // usblp nodes are named like parallel ports; their folder makes them USB printers.
    EXPECT_EQ(portKindOf("/dev/usb/lp0"), PortKind::Usb);
    EXPECT_EQ(portKindOf("/tmp/run/dev/usb/lp1"), PortKind::Usb);
    EXPECT_EQ(portKindOf("/tmp/usbwork/lp0"), PortKind::Parallel);
    // An output file that happens to sit in a folder named usb stays a file.
    EXPECT_EQ(portKindOf("/home/tech/usb/out.prn"), PortKind::File);
    EXPECT_EQ(portKindOf("ETHERNET_II"), PortKind::Ethernet);
    EXPECT_EQ(portKindOf("WIFI"), PortKind::Wifi);
    EXPECT_EQ(portKindOf("FILE"), PortKind::PrintToFile);
    EXPECT_EQ(portKindOf("temp.prn"), PortKind::File);
    EXPECT_EQ(portKindOf("COMPANY.prn"), PortKind::File);
    EXPECT_EQ(devicePathOf("COM3"), "/dev/ttyS2");
    EXPECT_EQ(devicePathOf("LPT1"), "/dev/lp0");
    EXPECT_EQ(devicePathOf("/dev/ttyACM0"), "/dev/ttyACM0");
}
