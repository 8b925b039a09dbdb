// tavroctl's connection options and its prompter (the glue other commands reuse).
#include "cli/CliConnection.h"
#include "cli/CliPrompter.h"

#include "FakeSysfs.h"
#include "RecordingPrompter.h"
#include "TempDir.h"
#include "TestClock.h"
#include "app/CErrorLog.h"
#include "port/CPorts.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

CliOptions withPort(const std::string& port, const std::string& device = "")
{
    CliOptions o;
    o.port = port;
    o.device = device;
    return o;
}

DeviceRoots noDevices()
{
    DeviceRoots r;
    r.sysfs = "/nonexistent/sys";
    r.dev = "/nonexistent/dev";
    return r;
}

} // namespace

TEST(CliConnection, PortFormsGiveTheirKinds)
{
    auto c = parseConnection(withPort("/dev/ttyUSB0"), noDevices());
    ASSERT_TRUE(c) << c.message();
    EXPECT_EQ(c->kind(), PortKind::Serial);
    EXPECT_EQ(c->portName, "/dev/ttyUSB0");
    EXPECT_EQ(c->modelFamily, kFamilyTavro36); // the built-in list's model when no --device is given

    c = parseConnection(withPort("COM3"), noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind(), PortKind::Serial);
    EXPECT_EQ(c->portName, "COM3");
    c = parseConnection(withPort("LPT1"), noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind(), PortKind::Parallel);
    // A usblp node is the USB printer it names, not a parallel port.
    c = parseConnection(withPort("/dev/usb/lp0"), noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind(), PortKind::Usb);
    EXPECT_EQ(c->portName, "/dev/usb/lp0");
    EXPECT_EQ(c->describe(), "USB printer /dev/usb/lp0");
    c = parseConnection(withPort("usb"), noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind(), PortKind::Usb);
    EXPECT_EQ(c->portName, "USB");

    c = parseConnection(withPort("tcp://192.168.0.254"), noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind(), PortKind::Ethernet);
    EXPECT_EQ(c->portName, "ETHERNET_II");
    EXPECT_EQ(c->host, "192.168.0.254");
    EXPECT_EQ(c->tcpPort, 6001);
    c = parseConnection(withPort("TCP://printer.local:9100"), noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->host, "printer.local");
    EXPECT_EQ(c->tcpPort, 9100);
    EXPECT_EQ(c->describe(), "tcp printer.local:9100");
    c = parseConnection(withPort("tcp://10.0.0.1:515"), noDevices());
    ASSERT_TRUE(c);

    c = parseConnection(withPort("file:out/a.prn"), noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind(), PortKind::PrintToFile);
    EXPECT_EQ(c->portName, "FILE");
    EXPECT_EQ(c->outputFile, "out/a.prn");
}

TEST(CliConnection, BadPortsAreRefusedWithOneLine)
{
    for (const char* bad : {"tcp://", "tcp://host:", "tcp://host:abc", "tcp://host:65535", "tcp://host:1023",
                            "tcp://a:b:6001", "file:", "/dev/pts/3", "ETHERNET_II", "WIFI", "printer.prn"}) {
        auto c = parseConnection(withPort(bad), noDevices());
        EXPECT_FALSE(c) << bad;
        EXPECT_EQ(c.message().find('\n'), std::string::npos) << bad;
    }
    EXPECT_FALSE(parseConnection(withPort(""), noDevices()));
}

TEST(CliConnection, SerialOptionsMapToThePortCodes)
{
    CliOptions o = withPort("/dev/ttyS0");
    o.baud = 19200;
    o.data = 7;
    o.parity = "even";
    o.stop = 2;
    o.flow = "sw";
    auto c = parseConnection(o, noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->baudRate, 19200);
    EXPECT_EQ(c->byteSize, 7);
    EXPECT_EQ(c->parity, 2);
    EXPECT_EQ(c->stopBits, 2);
    EXPECT_EQ(c->flowCtrl, 2);
    o.parity = "odd", o.stop = 1, o.flow = "none";
    c = parseConnection(o, noDevices());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->parity, 1);
    EXPECT_EQ(c->stopBits, 0);
    EXPECT_EQ(c->flowCtrl, 3);
    o.flow = "hw";
    EXPECT_EQ(parseConnection(o, noDevices())->flowCtrl, 1);

    // TAVRO15 runs at 38400 at most.
    o.device = "TAVRO15 S";
    o.baud = 115200;
    EXPECT_FALSE(parseConnection(o, noDevices()));
    o.baud = 38400;
    auto t15 = parseConnection(o, noDevices());
    ASSERT_TRUE(t15);
    EXPECT_EQ(t15->modelFamily, kFamilyTavro15);
}

TEST(CliConnection, DeviceEntryGivesFamilyInterfaceAndDefaultPort)
{
    auto c = parseConnection(withPort("", "TAVRO46/48 U-II"), noDevices());
    ASSERT_TRUE(c) << c.message();
    EXPECT_EQ(c->kind(), PortKind::Usb);
    EXPECT_EQ(c->modelFamily, kFamilyTavro46);
    EXPECT_EQ(c->interfaceKind, 4);

    TempDir dir;
    FakeSysfs fake(dir.path());
    std::string node = fake.addUsbSerial("ttyACM0", 0x5a3e, 0x3301, "");
    DeviceRoots roots;
    roots.sysfs = fake.sysfsRoot();
    roots.dev = fake.devRoot();
    c = parseConnection(withPort("", "TAVRO36/38 U-I"), roots);
    ASSERT_TRUE(c) << c.message();
    EXPECT_EQ(c->kind(), PortKind::Serial);
    EXPECT_EQ(c->portName, node);
    // TAVRO46/48's virtual serial id (3311) is not attached.
    EXPECT_FALSE(parseConnection(withPort("", "TAVRO46/48 U-I"), roots));

    EXPECT_FALSE(parseConnection(withPort("", "TAVRO36/38 E-II"), noDevices()));
    EXPECT_FALSE(parseConnection(withPort("", "TAVRO36/38 S"), noDevices()));
    EXPECT_FALSE(parseConnection(withPort("usb", "TAVRO36/38 P"), noDevices()));
    EXPECT_FALSE(parseConnection(withPort("/dev/lp0", "TAVRO36/38 S"), noDevices()));
    EXPECT_FALSE(parseConnection(withPort("usb", "UNKNOWN MODEL U-II"), noDevices()));
    EXPECT_TRUE(parseConnection(withPort("tcp://127.0.0.1", "TAVRO36/38 E-II"), noDevices()));
    // Any printer can print to a file instead.
    EXPECT_TRUE(parseConnection(withPort("file:x.prn", "TAVRO36/38 S"), noDevices()));
}

TEST(CliConnection, ApplyWritesThePortSettingsAndTheOutputFile)
{
    TestClock clock;
    CErrorLog log(&clock);
    std::istringstream in;
    std::ostringstream err;
    CliPrompter prompter(false, false, in, err);
    CPorts ports(prompter, clock, log, noDevices());
    CliOptions o = withPort("file:result.prn", "TAVRO25II S");
    o.baud = 9600;
    auto c = parseConnection(o, noDevices());
    ASSERT_TRUE(c);
    applyConnection(*c, ports, prompter);
    EXPECT_EQ(ports.m_PortName, "FILE");
    EXPECT_EQ(ports.m_ModelFamily, kFamilyTavro25II);
    EXPECT_EQ(ports.m_BaudRate, 9600);
    EXPECT_EQ(ports.m_ByteSize, 8);
    EXPECT_EQ(ports.m_Parity, 0);
    EXPECT_EQ(ports.m_FlowCtrl, 1);
    EXPECT_EQ(prompter.askOutputFileName(), std::optional<std::string>("result.prn"));
}

TEST(CliPrompter, QuestionsAreAnsweredByYesTheTerminalOrNo)
{
    std::istringstream none;
    std::ostringstream err;
    CliPrompter script(false, false, none, err);
    EXPECT_FALSE(script.ask("Overwrite?"));
    EXPECT_EQ(err.str(), "TAVROSet(203dpi): Overwrite? [y/N] n (not a terminal; --yes answers yes)\n");

    std::ostringstream err2;
    CliPrompter yes(true, false, none, err2);
    EXPECT_TRUE(yes.ask("Overwrite?"));
    EXPECT_EQ(yes.show("Go on?", PromptButtons::OkCancel, PromptIcon::Question, "x"), PromptAnswer::Ok);

    std::istringstream typed("y\nno\n");
    std::ostringstream err3;
    CliPrompter user(false, true, typed, err3);
    EXPECT_TRUE(user.ask("First?"));
    EXPECT_FALSE(user.ask("Second?"));
    EXPECT_FALSE(user.ask("Third? (end of input)"));

    std::ostringstream err4;
    CliPrompter plain(false, false, none, err4);
    plain.message("Turn on your USB printer\r\nand Try again.");
    EXPECT_EQ(err4.str(), "TAVROSet(203dpi): Turn on your USB printer\n  and Try again.\n");
    EXPECT_EQ(plain.askOutputFileName(), std::nullopt);
}
