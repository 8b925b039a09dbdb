#include "app/CErrorLog.h"

#include "TempDir.h"
#include "TestClock.h"

#include <gtest/gtest.h>

TEST(ErrorLog, LineFormatIsExact)
{
    TempDir dir;
    TestClock clock;
    clock.setLocalTime({2014, 3, 7, 9, 5, 3});
    CErrorLog log(&clock);
    ASSERT_TRUE(log.Open((dir / "error.log").string()));
    log.WriteLog("CPorts::Open() CreateFile error\r\n");
    log.WriteLog("ERROR LOG : Tool - Ver %d.%d.%d.%d", 1, 10, 0, 0);
    log.Close();
    EXPECT_EQ(readFileBytes(dir / "error.log"),
              "[2014/03/07 09:05:03] CPorts::Open() CreateFile error\r\n\r\n"
              "[2014/03/07 09:05:03] ERROR LOG : Tool - Ver 1.10.0.0\r\n");
}

TEST(ErrorLog, LongMessagesAreCutAt255)
{
    TempDir dir;
    TestClock clock;
    CErrorLog log(&clock);
    ASSERT_TRUE(log.Open((dir / "error.log").string()));
    log.WriteLog("%s", std::string(400, 'x').c_str());
    log.Close();
    std::string text = readFileBytes(dir / "error.log");
    std::string prefix = "[2014/03/07 09:05:03] ";
    ASSERT_EQ(text.size(), prefix.size() + 255 + 2);
    EXPECT_EQ(text.substr(prefix.size(), 255), std::string(255, 'x'));
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(ErrorLog, OpenEmptiesAndFailureSwitchesLoggingOff)
{
    TempDir dir;
    TestClock clock;
    writeFileBytes(dir / "error.log", "old run\r\n");
    CErrorLog log(&clock);
    ASSERT_TRUE(log.Open((dir / "error.log").string()));
    EXPECT_EQ(readFileBytes(dir / "error.log"), "");

    EXPECT_FALSE(log.Open((dir / "missing-folder/error.log").string()));
    EXPECT_FALSE(log.IsOpen());
    log.WriteLog("goes nowhere"); // must not crash
    EXPECT_EQ(readFileBytes(dir / "error.log"), "");
}
