// The ASB recognition and queue of ParPortCtl, walked without a port or thread.
#include "port/ParPortCtl.h"

#include "TestClock.h"
#include "app/CErrorLog.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct AsbFixture : ::testing::Test {
    TestClock clock;
    CErrorLog log{&clock};
    ParPortCtl par{log, clock};

    std::vector<std::uint8_t> popAll()
    {
        std::vector<std::uint8_t> out;
        int status = 0;
        for (;;) {
            std::uint8_t b = par.PopByte(status);
            if (status != 1)
                break;
            out.push_back(b);
        }
        return out;
    }
};

} // namespace

TEST_F(AsbFixture, ReportIsKeptApartFromData)
{
    const std::uint8_t rx[] = {0x18, 0x00, 0x00, 0x0F, 0x41};
    ASSERT_TRUE(par.ProcessReceived(rx, 5));
    EXPECT_EQ(par.GetAsb(), (std::array<std::uint8_t, 4>{0x18, 0x00, 0x00, 0x0F}));
    EXPECT_EQ(popAll(), std::vector<std::uint8_t>{0x41});
    EXPECT_EQ(par.GetErrorText(), "[ParPortCtl] Receive Queue is Empty");
}

TEST_F(AsbFixture, PatternCutShortIsData)
{
    const std::uint8_t rx[] = {0x41, 0x18, 0x00, 0x00};
    ASSERT_TRUE(par.ProcessReceived(rx, 4));
    EXPECT_EQ(par.GetAsb(), (std::array<std::uint8_t, 4>{}));
    EXPECT_EQ(popAll(), (std::vector<std::uint8_t>{0x41, 0x18, 0x00, 0x00}));
}

TEST_F(AsbFixture, BytesThatBreakThePatternAreData)
{
    // Second byte with bit 7, third byte with a high nibble, fourth byte not 0F.
    const std::uint8_t rx[] = {0x10, 0x80, 0x00, 0x0F, 0x10, 0x00, 0x10, 0x0F, 0x10, 0x00, 0x00, 0x0E};
    ASSERT_TRUE(par.ProcessReceived(rx, sizeof rx));
    EXPECT_EQ(par.GetAsb(), (std::array<std::uint8_t, 4>{}));
    EXPECT_EQ(popAll().size(), sizeof rx);
}

TEST_F(AsbFixture, OnlyTheLastReportIsStoredAndReportsAmongDataAreRemoved)
{
    const std::uint8_t rx[] = {0x01, 0x14, 0x00, 0x00, 0x0F, 0x02, 0x10, 0x08, 0x00, 0x0F, 0x03};
    ASSERT_TRUE(par.ProcessReceived(rx, sizeof rx));
    EXPECT_EQ(par.GetAsb(), (std::array<std::uint8_t, 4>{0x10, 0x08, 0x00, 0x0F}));
    EXPECT_EQ(popAll(), (std::vector<std::uint8_t>{0x01, 0x02, 0x03}));
}

TEST_F(AsbFixture, ReadLongerThan255BytesIsWalkedCompletely)
{
    std::vector<std::uint8_t> rx(300);
    for (size_t i = 0; i < rx.size(); ++i)
        rx[i] = static_cast<std::uint8_t>(0x20 + i % 64);
    // An ASB report beyond index 255 is still found.
    rx[290] = 0x18, rx[291] = 0x00, rx[292] = 0x00, rx[293] = 0x0F;
    ASSERT_TRUE(par.ProcessReceived(rx.data(), static_cast<int>(rx.size())));
    EXPECT_EQ(par.QueueCount(), 296);
    EXPECT_EQ(par.GetAsb()[0], 0x18);
    auto data = popAll();
    ASSERT_EQ(data.size(), 296u);
    EXPECT_EQ(data[289], rx[289]);
    EXPECT_EQ(data[290], rx[294]);
}

TEST_F(AsbFixture, FullQueueRefusesTheByte)
{
    std::vector<std::uint8_t> rx(4095, 0x41);
    ASSERT_TRUE(par.ProcessReceived(rx.data(), static_cast<int>(rx.size())));
    const std::uint8_t one = 0x42;
    EXPECT_FALSE(par.ProcessReceived(&one, 1));
    EXPECT_EQ(par.QueueCount(), 4095);
}

TEST_F(AsbFixture, ClosedPortRefusesEverything)
{
    const std::uint8_t b = 0;
    EXPECT_EQ(par.WritePort(&b, 1), 0);
    EXPECT_EQ(par.Win9xMode(), 0);
    EXPECT_EQ(par.OpenPort("/nonexistent/lp9"), 0);
    EXPECT_EQ(par.GetErrorText(), "[ParPortCtl] CreateFile fail : 2");
    EXPECT_EQ(par.LastError(), 2);
}
