// The parallel port through a pty: CPorts' write-only LPT and ParPortCtl's read thread.
#include "PortTestSupport.h"

#include "port/ParPortCtl.h"

using namespace porttest;

namespace {

struct ParallelTest : PortFixture {
    std::unique_ptr<ParPortCtl> par;
    void SetUp() override
    {
        PortFixture::SetUp();
        if (IsSkipped())
            return;
        par = std::make_unique<ParPortCtl>(log, clock);
    }
    void TearDown() override
    {
        par.reset();
        PortFixture::TearDown();
    }
    Bytes popAll()
    {
        Bytes out;
        int status = 0;
        for (;;) {
            std::uint8_t b = par->PopByte(status);
            if (status != 1)
                return out;
            out.push_back(b);
        }
    }
};

} // namespace

TEST_F(ParallelTest, CPortsWritesToTheParallelDevice)
{
    ports->m_PortName = linkPty("lpTest0");
    ports->m_Function = 2; // no watch thread on LPT even in user setup
    ASSERT_EQ(ports->Open(), 1);
    EXPECT_EQ(ports->OpenKind(), PortKind::Parallel);
    EXPECT_FALSE(ports->WatchThreadStarted());
    Bytes out = {0x1B, 0x40, 0x00, 0x0A};
    EXPECT_EQ(ports->Write(out.data(), 4), 4);
    EXPECT_EQ(readMaster(pty.master(), 4), out);
    EXPECT_EQ(ports->Close(), 1);

    ports->m_PortName = (dir / "lpGone0").string();
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_NE(logText().find("CPorts::Open() CreateFile error\r\n"), std::string::npos);
}

TEST_F(ParallelTest, PpdevNodeMustBeClaimedBeforeUse)
{
    // A node named like ppdev's is claimed at open; a device that refuses the claim (here a
    // pty, which knows no PPCLAIM) fails the open instead of failing every later write.
    std::string node = linkPty("parport7");
    ports->m_PortName = node;
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_NE(logText().find("CPorts::Open() CreateFile error\r\n"), std::string::npos);
    EXPECT_EQ(par->OpenPort(node), 0);
    EXPECT_EQ(par->GetErrorText().rfind("[ParPortCtl] CreateFile fail : ", 0), 0u) << par->GetErrorText();
}

TEST_F(ParallelTest, AsbReportIsSplitFromTheData)
{
    ASSERT_EQ(par->OpenPort(pty.slavePath()), 1);
    EXPECT_EQ(par->LastError(), 0);
    ASSERT_EQ(par->StartReadThread(), 1);
    ASSERT_TRUE(writeMaster(pty.master(), {0x18, 0x00, 0x00, 0x0F, 0x41}));
    par->RequestRead();
    ASSERT_TRUE(waitFor([&] { return par->QueueCount() >= 1; }));
    EXPECT_EQ(popAll(), Bytes{0x41});
    EXPECT_EQ(par->GetAsb(), (std::array<std::uint8_t, 4>{0x18, 0x00, 0x00, 0x0F}));
    EXPECT_EQ(par->StopReadThread(), 1);
    EXPECT_FALSE(par->ReadThreadRunning());
}

TEST_F(ParallelTest, ReadOfThreeHundredBytesIsQueuedCompletely)
{
    ASSERT_EQ(par->OpenPort(pty.slavePath()), 1);
    ASSERT_EQ(par->StartReadThread(), 1);
    Bytes in(300);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(0x20 + i % 90);
    ASSERT_TRUE(writeMaster(pty.master(), in));
    // The pty may hand the bytes over in more than one read: ask until all are in.
    ASSERT_TRUE(waitFor([&] {
        par->RequestRead();
        return par->QueueCount() >= 300;
    }));
    EXPECT_EQ(popAll(), in);
}

TEST_F(ParallelTest, StopEndsAWaitingReadPromptly)
{
    ASSERT_EQ(par->OpenPort(pty.slavePath()), 1);
    ASSERT_EQ(par->StartReadThread(), 1);
    par->RequestRead(); // the printer sends nothing: the thread waits in its read
    std::this_thread::sleep_for(50ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(par->StopReadThread(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(par->ReadThreadRunning());

    // Started again after a stop, it still answers requests.
    ASSERT_EQ(par->StartReadThread(), 1);
    ASSERT_TRUE(writeMaster(pty.master(), {0x42}));
    ASSERT_TRUE(waitFor([&] {
        par->RequestRead();
        return par->QueueCount() == 1;
    }));
    par->RequestRead();
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(par->ClosePort(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(clock.sleeps(), std::vector<Clock::Ms>{Clock::Ms(100)});
    EXPECT_FALSE(par->IsOpen());
}

TEST_F(ParallelTest, DestructionEndsTheThreadToo)
{
    ASSERT_EQ(par->OpenPort(pty.slavePath()), 1);
    ASSERT_EQ(par->StartReadThread(), 1);
    par->RequestRead();
    auto start = std::chrono::steady_clock::now();
    par.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(ParallelTest, FullQueueEndsTheThread)
{
    ASSERT_EQ(par->OpenPort(pty.slavePath()), 1);
    ASSERT_EQ(par->StartReadThread(), 1);
    Bytes in(4200, 0x41);
    ASSERT_TRUE(writeMaster(pty.master(), in));
    ASSERT_TRUE(waitFor([&] {
        par->RequestRead();
        return !par->ReadThreadRunning();
    }));
    EXPECT_EQ(par->GetErrorText(), "Receive Queue is FULL!");
    EXPECT_EQ(par->QueueCount(), 4095);
    EXPECT_EQ(par->StopReadThread(), 1);
}

TEST_F(ParallelTest, WritePortSendsTheBytes)
{
    ASSERT_EQ(par->OpenPort(pty.slavePath()), 1);
    Bytes out = {0x1D, 0x28, 0x45, 0x03, 0x00, 0x06, 0x01, 0x02};
    EXPECT_EQ(par->WritePort(out.data(), static_cast<int>(out.size())), static_cast<int>(out.size()));
    EXPECT_EQ(readMaster(pty.master(), out.size()), out);
}
