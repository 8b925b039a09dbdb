// tavroctl ports / send as a technician runs them, against ptys, a fake sysfs tree, a
// loopback TCP server and files.
#include "PortTestSupport.h"
#include "TavroctlRun.h"

#include "LoopbackServer.h"

#include <algorithm>
#include <cstdio>
#include <termios.h>
#include <sys/wait.h>

using namespace porttest;

namespace {

struct TavroctlTest : PortFixture {
    std::string env;

    void useFakeTree(const std::string& extra = "")
    {
        env = "TAVRO_SYSFS_ROOT=" + shellQuote(fake.sysfsRoot().string()) + " TAVRO_DEV_ROOT=" +
              shellQuote(fake.devRoot().string()) + " TAVRO_EXTRA_PORTS=" + shellQuote(extra) + " ";
    }

    CliRun tavroctl(const std::string& args) { return runTavroctl(dir.path(), env, args); }

    std::string payload()
    {
        std::string bytes;
        for (int i = 0; i < 1000; ++i)
            bytes += static_cast<char>(i * 31 % 256); // includes 00, 0A, 0D, 1A, FF
        writeFileBytes(dir / "payload.bin", bytes);
        return bytes;
    }

    static int lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }
};

} // namespace

TEST_F(TavroctlTest, PortsListsEveryKindWithHardwareIds)
{
    fake.addUart("ttyS0", 4, true);
    fake.addUsbSerial("ttyACM0", 0x5a3e, 0x3301, pty.slavePath());
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, 0x0100, pty.slavePath());
    fake.addDevNode("lp0", "");
    useFakeTree("/run/sim/ttySIM0:/run/sim/lpSIM0");
    std::string dev = fake.devRoot().string();

    CliRun r = tavroctl("ports --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"serial\":[\"" + dev + "/ttyS0\",\"" + dev + "/ttyACM0\",\"/run/sim/ttySIM0\"],"
                     "\"parallel\":[\"" + dev + "/lp0\",\"/run/sim/lpSIM0\"],"
                     "\"usbPrinters\":[{\"name\":\"lp0\",\"hardwareId\":\"USB\\\\VID_5A3E&PID_3302&REV_0100\",\"node\":\"" +
                         dev + "/usb/lp0\"}],"
                     "\"usbSerial\":[{\"name\":\"ttyACM0\",\"hardwareId\":\"USB\\\\VID_5A3E&PID_3301\",\"node\":\"" +
                         dev + "/ttyACM0\"}]}\n");

    r = tavroctl("ports");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("USB printers:\n  USB\\VID_5A3E&PID_3302&REV_0100  " + dev + "/usb/lp0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("USB virtual serial ports:\n  USB\\VID_5A3E&PID_3301  " + dev + "/ttyACM0\n"), std::string::npos);
    EXPECT_NE(r.out.find("Parallel ports:\n  " + dev + "/lp0\n  /run/sim/lpSIM0\n"), std::string::npos);
}

TEST_F(TavroctlTest, SendWritesTheFileUnchangedToAFile)
{
    std::string bytes = payload();
    CliRun r = tavroctl("send payload.bin --port file:out.prn");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFileBytes(dir / "out.prn"), bytes);
    EXPECT_EQ(r.out, "sent 1000 bytes to file out.prn\n");
}

TEST_F(TavroctlTest, SendOverASerialPort)
{
    std::string bytes = payload();
    std::string port = linkPty("ttyTest0");
    CliRun r = tavroctl("send payload.bin --port " + shellQuote(port) + " --baud 9600 --flow none");
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes got = readMaster(pty.master(), bytes.size());
    EXPECT_EQ(std::string(got.begin(), got.end()), bytes);
}

TEST_F(TavroctlTest, SendToTheUsbPrinterOfTheDeviceEntry)
{
    std::string bytes = payload();
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3312, std::nullopt, pty.slavePath());
    useFakeTree();
    CliRun r = tavroctl("send payload.bin --device 'TAVRO46/48 U-II'");
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes got = readMaster(pty.master(), bytes.size());
    EXPECT_EQ(std::string(got.begin(), got.end()), bytes);

    // TAVRO36/38 wants 3302 or 3304: not attached.
    r = tavroctl("send payload.bin --device 'TAVRO36/38 U-II'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("tavroctl: error: no USB printer"), std::string::npos) << r.err;
}

TEST_F(TavroctlTest, SendOverTcpToTheNetworkPrinter)
{
    LoopbackServer server;
    ASSERT_TRUE(server.valid());
    std::string bytes = payload();
    CliRun r = tavroctl("send payload.bin --device 'TAVRO36/38 E-II' --port tcp://127.0.0.1:" + std::to_string(server.port()));
    ASSERT_EQ(r.status, 0) << r.err;
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    EXPECT_EQ(LoopbackServer::readUntilClosed(peer.get(), 5000ms), bytes);
}

TEST_F(TavroctlTest, FailuresExitNonZeroWithOneLine)
{
    payload();
    LoopbackServer closed;
    int port = closed.port();
    closed.stopListening();
    struct Case {
        std::string args, message;
    } cases[] = {
        {"send missing.bin --port file:x", "missing.bin"},
        {"send payload.bin --port tcp://127.0.0.1:" + std::to_string(port), "cannot connect to 127.0.0.1:"},
        {"send payload.bin --port tcp://127.0.0.1:80", "outside 1024..65534"},
        {"send payload.bin --port " + shellQuote((dir / "ttyNone0").string()), "cannot open serial port"},
        {"send payload.bin --port /dev/pts/0", "not a serial"},
        {"send payload.bin --port file:", "needs a file name"},
        {"send payload.bin --port file:" + shellQuote((dir / "no" / "dir.prn").string()), "cannot create"},
        {"send payload.bin --device 'TAVRO36/38 E-II'", "needs --port tcp://"},
        {"send payload.bin --device 'TAVRO36/38 S' --port usb", "does not connect through a USB printer"},
        {"send payload.bin --device 'TAVRO15 S' --port /dev/ttyS0 --baud 115200", "38400, 19200 or 9600"},
        {"send payload.bin --device 'NOPRINTER S' --port usb", "not a known printer model"},
        {"send payload.bin", "no connection given"},
    };
    for (const auto& c : cases) {
        CliRun r = tavroctl(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(lines(r.err), 1) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("tavroctl: error: ", 0), 0u) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
}

TEST_F(TavroctlTest, ShortWriteIsAFailure)
{
    // The printer has stopped the line with XOFF before the tool comes (S/W flow control
    // keeps a stopped line stopped across the tool's open): the write deadline of
    // 8 x 100 ms passes with the bytes unsent.
    std::string bytes(8, 'A');
    writeFileBytes(dir / "small.bin", bytes);
    std::string port = linkPty("ttyStopped0");
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slaveHoldFd(), &t), 0);
    t.c_iflag |= IXON;
    t.c_cc[VSTOP] = 0x13;
    t.c_cc[VSTART] = 0x11;
    ASSERT_EQ(::tcsetattr(pty.slaveHoldFd(), TCSANOW, &t), 0);
    ASSERT_TRUE(writeMaster(pty.master(), {0x13}));
    ASSERT_TRUE(waitFor([&] {
        pollfd p{pty.slaveHoldFd(), POLLOUT, 0};
        return ::poll(&p, 1, 0) == 0;
    }));
    CliRun r = tavroctl("send small.bin --flow sw --port " + shellQuote(port));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("tavroctl: error: short write to serial port " + port + ": 0 of 8 bytes sent"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
}
