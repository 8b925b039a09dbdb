// CPorts on a serial port: a pty plays the printer.
#include "PortTestSupport.h"

#include "app/MessageCatalog.h"

#include <sys/ioctl.h>
#include <termios.h>

using namespace porttest;

namespace {

struct SerialTest : PortFixture {
    std::string path;
    void SetUp() override
    {
        PortFixture::SetUp();
        if (IsSkipped())
            return;
        path = linkPty("ttyMixedCase0"); // also shows the path is not upper-cased
    }
    termios slaveTermios()
    {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.slaveHoldFd(), &t), 0);
        return t;
    }
};

} // namespace

TEST_F(SerialTest, SettingsAreAppliedToTheLine)
{
    configureSerial(path, 9600, 7, 2, 2, 1);
    ASSERT_EQ(ports->Open(), 1);
    EXPECT_EQ(ports->m_IsOpen, 1);
    termios t = slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    // A pty forces CS8 and no parity on itself (the data size and parity mapping is
    // checked in the unit tests); speed, stop bits and flow control it keeps.
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & IXON);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO)); // raw: bytes pass unchanged
    EXPECT_EQ(ports->Close(), 1);
    EXPECT_EQ(ports->m_IsOpen, 0);

    configureSerial(path, 115200, 8, 1, 0, 3);
    ASSERT_EQ(ports->Open(), 1);
    t = slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    ports->Close();

    configureSerial(path, 38400, 8, 0, 0, 2);
    ASSERT_EQ(ports->Open(), 1);
    t = slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), B38400);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(logText().find("CPorts::Open()"), std::string::npos);
}

TEST_F(SerialTest, UnsetSettingsFailBeforeTheDeviceIsTouched)
{
    termios before = slaveTermios();
    ports->m_PortName = path; // the connection dialog's OK has not run: everything -1
    EXPECT_EQ(ports->Open(), 0);
    configureSerial(path);
    ports->m_FlowCtrl = -1;
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_EQ(ports->m_IsOpen, 0);
    EXPECT_EQ(ports->m_hPort, -1);
    termios after = slaveTermios();
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(logText().find("CPorts::Open()"), std::string::npos);
    EXPECT_EQ(ports->Close(), 0);
    // An empty name is a name that cannot be opened, and is logged as every other one.
    configureSerial("");
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_EQ(ports->m_IsOpen, 0);
    EXPECT_NE(logText().find("CPorts::Open() Invalid Handle\r\n"), std::string::npos);
}

TEST_F(SerialTest, OpenFailuresAreLoggedAtTheirStep)
{
    configureSerial((dir / "ttyGone0").string());
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_NE(logText().find("] CPorts::Open() CreateFile error\r\n\r\n"), std::string::npos);

    // A file named like a tty is no terminal: the line settings cannot be read.
    writeFileBytes(dir / "ttyFile0", "");
    configureSerial((dir / "ttyFile0").string());
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_NE(logText().find("CPorts::Open() GetCommState failed.\r\n"), std::string::npos);

    configureSerial(path, 12345);
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_NE(logText().find("CPorts::Open() SetCommstate failed(22).\r\n"), std::string::npos);
    EXPECT_EQ(ports->m_IsOpen, 0);

    // COMn names the ttyS device; COM99 does not exist here.
    configureSerial("COM99");
    EXPECT_EQ(ports->Open(), 0);
}

TEST_F(SerialTest, PortIsNotSharedWithASecondTool)
{
    configureSerial(path);
    ASSERT_EQ(ports->Open(), 1);
    CPorts other(prompter, clock, log);
    other.m_PortName = path;
    other.m_BaudRate = 9600, other.m_ByteSize = 8, other.m_Parity = 0, other.m_FlowCtrl = 3;
    EXPECT_EQ(other.Open(), 0);
    ports->Close();
    EXPECT_EQ(other.Open(), 1);
}

TEST_F(SerialTest, SecondOpenClosesTheOldPortAndWaitsOneSecond)
{
    configureSerial(path);
    ASSERT_EQ(ports->Open(), 1);
    ASSERT_EQ(ports->Open(), 1);
    EXPECT_NE(logText().find("CPorts::Open() CloseHandle run\r\n"), std::string::npos);
    EXPECT_EQ(clock.sleeps(), std::vector<Clock::Ms>{Clock::Ms(1000)});
    EXPECT_EQ(ports->m_IsOpen, 1);
    EXPECT_GE(ports->m_hPort, 0);
    ports->Close();
}

TEST_F(SerialTest, BytesPassBothWaysUnchanged)
{
    configureSerial(path, 115200);
    // Bytes the printer sent before the port was opened are flushed by Open.
    ASSERT_TRUE(writeMaster(pty.master(), {0x55, 0x66}));
    ASSERT_TRUE(waitFor([&] {
        int n = 0;
        return ::ioctl(pty.slaveHoldFd(), FIONREAD, &n) == 0 && n == 2;
    }));
    ASSERT_EQ(ports->Open(), 1);
    int waiting = -1;
    ASSERT_EQ(::ioctl(ports->m_hPort, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 0);

    Bytes out = {0x1D, 0x28, 0x45, 0x00, 0x0A, 0x0D, 0xFF, 0x11, 0x13};
    EXPECT_EQ(ports->Write(out.data(), static_cast<int>(out.size())), static_cast<int>(out.size()));
    EXPECT_EQ(readMaster(pty.master(), out.size()), out);

    Bytes in = {0x00, 0x0D, 0x0A, 0x7F, 0x80};
    ASSERT_TRUE(writeMaster(pty.master(), in));
    Bytes got;
    ASSERT_TRUE(waitFor([&] {
        std::uint8_t buf[16];
        int n = ports->ReadBlock(buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
        return got.size() >= in.size();
    }));
    EXPECT_EQ(got, in);
    std::uint8_t buf[4];
    EXPECT_EQ(ports->ReadBlock(buf, sizeof buf), 0); // nothing waits: no blocking
}

TEST_F(SerialTest, WatchThreadStartsOnlyForUserSetupAndTavro15Download)
{
    configureSerial(path);
    struct Case {
        int function, family;
        bool thread;
    } cases[] = {{1, 5, false}, {2, 5, true}, {3, 5, false}, {3, 2, true}, {0, 2, false}};
    for (auto c : cases) {
        ports->m_Function = static_cast<std::uint8_t>(c.function);
        ports->m_ModelFamily = familyOfNumber(c.family);
        ASSERT_EQ(ports->Open(), 1);
        EXPECT_EQ(ports->WatchThreadStarted(), c.thread) << c.function << "/" << c.family;
        ports->Close();
        EXPECT_FALSE(ports->WatchThreadStarted());
    }
}

TEST_F(SerialTest, WatchThreadQueuesNotifiesAndEndsAtClose)
{
    DrainingTarget target(*ports);
    ports->m_hNotifyWnd = &target;
    ports->m_Function = 2;
    configureSerial(path, 115200);
    ASSERT_EQ(ports->Open(), 1);
    ASSERT_TRUE(ports->WatchThreadActive());

    Bytes reply = {0x37, 0x22, 0x00, 0x01, 0x1B};
    ASSERT_TRUE(writeMaster(pty.master(), reply));
    ASSERT_TRUE(waitFor([&] { return target.bytes().size() >= reply.size(); }));
    EXPECT_EQ(target.bytes(), reply);
    EXPECT_GE(target.notifications(), 1);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ports->Close(), 1);
    ASSERT_TRUE(waitFor([&] { return !ports->WatchThreadActive(); }, 3000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    int notified = target.notifications();
    ASSERT_TRUE(writeMaster(pty.master(), {0x01, 0x02}));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(target.notifications(), notified);
    EXPECT_TRUE(ports->m_QueueRead.IsEmpty());
}

TEST_F(SerialTest, DestroyingThePortsEndsARunningWatchThread)
{
    ports->m_Function = 2;
    configureSerial(path);
    ASSERT_EQ(ports->Open(), 1);
    auto start = std::chrono::steady_clock::now();
    ports.reset(); // waits for the thread, which must not be stuck in its poll
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST_F(SerialTest, BlockIsQueuedOnlyWhenItFits)
{
    // 3000 bytes waiting, 1200 held: 2048 are queued (2896 free > 2048), the other 952
    // find 848 free and are dropped with "m_QueueRead FULL!".
    configureSerial(path, 115200);
    ports->m_Function = 1;
    ASSERT_EQ(ports->Open(), 1);
    for (int i = 0; i < 1200; ++i)
        ports->m_QueueRead.Push(0xEE);
    Bytes in(3000);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(writeMaster(pty.master(), in));
    ASSERT_TRUE(waitFor([&] {
        int n = 0;
        return ::ioctl(ports->m_hPort, FIONREAD, &n) == 0 && n == 3000;
    }));
    EXPECT_EQ(ports->PumpReceived(), 2048);
    EXPECT_EQ(ports->m_QueueRead.Count(), 3248);
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{catalogText(Msg::ReceiveQueueFull)});
    EXPECT_EQ(std::string(catalogText(Msg::ReceiveQueueFull)), "m_QueueRead FULL!");
    for (int i = 0; i < 1200; ++i)
        ports->m_QueueRead.Pop();
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ(ports->m_QueueRead.Pop(), static_cast<std::uint8_t>(i));
}

TEST_F(SerialTest, WriteGivesUpAfter100MsPerByteWithTheCountSoFar)
{
    // XOFF from the printer stops the line (S/W flow control), like a printer holding CTS.
    configureSerial(path, 9600, 8, 0, 0, 2);
    ASSERT_EQ(ports->Open(), 1);
    ASSERT_TRUE(writeMaster(pty.master(), {0x13}));
    std::this_thread::sleep_for(50ms);
    Bytes out(10, 0x41);
    auto start = std::chrono::steady_clock::now();
    int written = ports->Write(out.data(), 10);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(written, 10);
    EXPECT_GE(took, 950ms);
    EXPECT_LT(took, 5s);
    EXPECT_NE(logText().find("WriteFile Time-out!"), std::string::npos);
    EXPECT_EQ(readMaster(pty.master(), 10, 200ms).size(), static_cast<size_t>(written));

    ASSERT_TRUE(writeMaster(pty.master(), {0x11})); // XON: the line runs again
    ASSERT_TRUE(waitFor([&] {
        std::uint8_t b = 0x42;
        return ports->Write(&b, 1) == 1;
    }));
}
