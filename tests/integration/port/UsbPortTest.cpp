// USB printers and USB virtual serial ports in a fake sysfs tree whose nodes are ptys.
#include "PortTestSupport.h"

#include "port/DeviceDiscovery.h"

#include <fcntl.h>

using namespace porttest;

namespace {

constexpr const char* kId3302 = "USB\\VID_5A3E&PID_3302";

struct UsbTest : PortFixture {
    DeviceRoots roots()
    {
        DeviceRoots r;
        r.sysfs = fake.sysfsRoot();
        r.dev = fake.devRoot();
        return r;
    }
};

// Waits until bytes the master wrote are readable on the slave, without taking them.
bool slaveHasInput(PtyPair& pty)
{
    pollfd p{pty.slaveHoldFd(), POLLIN, 0};
    return ::poll(&p, 1, 5000) == 1;
}

} // namespace

TEST_F(UsbTest, CountsMatchingPrintersAndMatchesLowerCaseIdsWithRevision)
{
    EXPECT_EQ(CountUsbPrinters(kId3302, log, roots()), -1);
    // The kernel writes lower-case hex; with bcdDevice the id gets "&REV_0100".
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, 0x0100, pty.slavePath());
    fake.addUsbPrinter("lp1", 0x1234, 0x3302, std::nullopt, pty.slavePath());
    EXPECT_EQ(CountUsbPrinters(kId3302, log, roots()), 1);
    EXPECT_EQ(CountUsbPrinters("usb\\vid_5a3e&pid_3302", log, roots()), 1);
    auto printers = listUsbPrinters(roots());
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].hardwareId, "USB\\VID_5A3E&PID_3302&REV_0100");
    EXPECT_EQ(printers[0].node, (fake.devRoot() / "usb" / "lp0").string());
    EXPECT_EQ(printers[1].hardwareId, "USB\\VID_1234&PID_3302");

    fake.addUsbPrinter("lp2", 0x5a3e, 0x3302, std::nullopt, pty.slavePath());
    EXPECT_EQ(CountUsbPrinters(kId3302, log, roots()), 2);
    EXPECT_EQ(logText().find("Create File error"), std::string::npos);
}

TEST_F(UsbTest, CountStopsAtAPrinterThatDoesNotOpen)
{
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, std::nullopt, ""); // no node
    fake.addUsbPrinter("lp1", 0x5a3e, 0x3302, std::nullopt, pty.slavePath());
    EXPECT_EQ(CountUsbPrinters(kId3302, log, roots()), 1);
    EXPECT_NE(logText().find("] Create File error\r\n\r\n"), std::string::npos);
}

TEST_F(UsbTest, OpenLogsTheEndOfTheListWhenNothingMatches)
{
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3004, std::nullopt, pty.slavePath());
    std::string path;
    EXPECT_EQ(OpenUsbPrinter(kId3302, path, log, roots()), -1);
    EXPECT_NE(logText().find("] [Error] SetupDiEnumDeviceInterfaces(259)\r\n\r\n"), std::string::npos);

    DeviceRoots none;
    none.sysfs = dir / "no-sysfs";
    EXPECT_EQ(OpenUsbPrinter(kId3302, path, log, none), -1);
    EXPECT_NE(logText().find("[Error] SetupDiGetClassDevs"), std::string::npos);
}

TEST_F(UsbTest, EntriesWithoutNodeNameOrIdsFailTheOpen)
{
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, std::nullopt, pty.slavePath());
    fake.writeSysFile("class/usbmisc/lp0/uevent", "MAJOR=180\nMINOR=0\n");
    std::string path;
    EXPECT_EQ(OpenUsbPrinter(kId3302, path, log, roots()), -1);
    EXPECT_NE(logText().find("[Error] SetupDiGetDeviceInterfaceDetail"), std::string::npos);
    EXPECT_EQ(CountUsbPrinters(kId3302, log, roots()), -1);
    EXPECT_NE(logText().find("[Error]SetupDiGetDeviceInterfaceDetail"), std::string::npos);

    // A DEVNAME that climbs out of the device root is refused the same way.
    fake.writeSysFile("class/usbmisc/lp0/uevent", "DEVNAME=../../etc/passwd\n");
    EXPECT_EQ(OpenUsbPrinter(kId3302, path, log, roots()), -1);

    fake.writeSysFile("class/usbmisc/lp0/uevent", "DEVNAME=usb/lp0\n");
    fake.writeSysFile("devices/usb1/1-1/idVendor", "zz\n");
    EXPECT_EQ(OpenUsbPrinter(kId3302, path, log, roots()), -1);
    EXPECT_NE(logText().find("[Error] SetupDiGetDeviceRegistryProperty"), std::string::npos);
    EXPECT_EQ(CountUsbPrinters(kId3302, log, roots()), -1);
    EXPECT_NE(logText().find("[Error]SetupDiGetDeviceRegistryProperty"), std::string::npos);
}

TEST_F(UsbTest, CPortsOpensTheFamilysPrinterAndWritesToIt)
{
    // TAVRO36/38: the first open id (3302) is absent, the second (3304) is found.
    std::string node = fake.addUsbPrinter("lp0", 0x5a3e, 0x3304, std::nullopt, pty.slavePath());
    ports->m_PortName = "usb";
    ports->m_ModelFamily = kFamilyTavro36;
    ASSERT_EQ(ports->Open(), 1);
    EXPECT_EQ(ports->m_DevicePath, node);
    EXPECT_EQ(ports->OpenKind(), PortKind::Usb);
    EXPECT_NE(logText().find("CreateFile Success ["), std::string::npos);
    Bytes out = {0x1C, 0x70, 0x01, 0x00};
    EXPECT_EQ(ports->Write(out.data(), 4), 4);
    EXPECT_EQ(readMaster(pty.master(), 4), out);
    EXPECT_EQ(ports->Close(), 1);

    ports->m_ModelFamily = kFamilyTavro44i; // wants 3004: not attached
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_EQ(ports->m_IsOpen, 0);
}

TEST_F(UsbTest, VirtualSerialPortIsFoundByItsDevicesId)
{
    fake.addUsbSerial("ttyACM0", 0x0403, 0x6001, pty.slavePath());
    std::string ours = fake.addUsbSerial("ttyUSB0", 0x5a3e, 0x3301, pty.slavePath());
    EXPECT_EQ(FindUsbVirtualCom("USB\\VID_5A3E&PID_3301", roots()), ours);
    EXPECT_EQ(FindUsbVirtualCom("USB\\VID_5A3E&PID_3303", roots()), "");
    // The first USB serial device belongs to another vendor.
    EXPECT_FALSE(IsUsbSerialDevice("USB\\VID_5A3E&PID_3301", roots()));
    EXPECT_TRUE(IsUsbSerialDevice("USB\\VID_0403&PID_6001", roots()));
}

// The serial number that the record knows a USB printer by: of the family's printer for
// "USB" (the first id that matches, as the open takes them), of the device behind a node,
// and none for a device without one or a serial number that is not one printable word.
TEST_F(UsbTest, SerialNumberOfTheDeviceBehindTheConnection)
{
    fake.addUsbPrinter("lp0", 0x1234, 0x3302, std::nullopt, pty.slavePath(), "OTHER1");
    const std::string lp1 = fake.addUsbPrinter("lp1", 0x5a3e, 0x3302, std::nullopt, pty.slavePath(), "T46A0001");
    const std::string lp2 = fake.addUsbPrinter("lp2", 0x5a3e, 0x3004, std::nullopt, pty.slavePath());
    const std::string acm = fake.addUsbSerial("ttyACM0", 0x5a3e, 0x3301, pty.slavePath(), "T46A0002");
    fake.addUsbPrinter("lp3", 0x5a3e, 0x3312, std::nullopt, pty.slavePath(), "two words");
    struct Case {
        std::string node;
        std::vector<std::string> ids;
        std::string serial;
    };
    for (const Case& c : {Case{"", {kId3302}, "T46A0001"},
                          Case{"", {"USB\\VID_5A3E&PID_9999", kId3302}, "T46A0001"},
                          Case{"", {"USB\\VID_5A3E&PID_3004"}, ""},
                          Case{"", {"USB\\VID_5A3E&PID_3312"}, ""},
                          Case{"", {"USB\\VID_5A3E&PID_9999"}, ""},
                          Case{lp1, {}, "T46A0001"},
                          Case{lp2, {}, ""},
                          Case{acm, {}, "T46A0002"},
                          Case{"/dev/ttyS0", {}, ""}})
        EXPECT_EQ(usbSerialNumber(c.node, c.ids, roots()), c.serial) << c.node << " " << (c.ids.empty() ? "" : c.ids.back());
}

TEST_F(UsbTest, EnumPortsListsRealSerialAndParallelPortsAndExtras)
{
    fake.addUart("ttyS0", 4, true);
    fake.addUart("ttyS1", 0, true);  // registered but no UART
    fake.addUart("ttyS2", 4, false); // no device behind it
    fake.addUart("ttyS10", 4, true);
    fake.addUsbSerial("ttyACM0", 0x5a3e, 0x3301, "");
    fake.addDevNode("lp0", "");
    fake.addDevNode("parport0", "");
    fake.addDevNode("lpx", "");
    DeviceRoots r = roots();
    r.extraPorts = {"/run/sim/ttySIM0", "/run/sim/lpSIM0", "/run/sim/other"};
    CPorts p(prompter, clock, log, r);
    std::string dev = fake.devRoot().string();
    EXPECT_EQ(p.EnumPorts(false), (std::vector<std::string>{dev + "/ttyS0", dev + "/ttyS10", dev + "/ttyACM0",
                                                             "/run/sim/ttySIM0"}));
    EXPECT_EQ(p.EnumPorts(true), (std::vector<std::string>{dev + "/lp0", dev + "/parport0", "/run/sim/lpSIM0"}));
    EXPECT_EQ(logText().find("Registry open fail"), std::string::npos);

    DeviceRoots empty;
    empty.sysfs = dir / "nothing";
    empty.dev = dir / "nothing";
    CPorts q(prompter, clock, log, empty);
    EXPECT_TRUE(q.EnumPorts(false).empty());
    EXPECT_NE(logText().find("Registry open fail"), std::string::npos);
    EXPECT_TRUE(q.EnumPorts(true).empty());
}

