// The record: what was applied survives a reopen, a failed change leaves it as it was, a
// run whose process died shows as interrupted once the next run for that printer begins,
// and two printers never see each other's items.
#include "TempDir.h"
#include "state/StateRecord.h"

#include <gtest/gtest.h>

TEST(StateRecord, ChangesRunsAndInterruptions)
{
    TempDir tmp;
    const auto file = tmp / "sub" / "record.sqlite";
    {
        auto record = StateRecord::open(file);
        ASSERT_TRUE(record.ok()) << record.message();
        auto run = (*record)->beginRun("tcp:127.0.0.1:6001");
        ASSERT_TRUE(run.ok()) << run.message();
        auto change = (*record)->beginChange(*run, "tcp:127.0.0.1:6001", "settings", "settings.speed=180",
                                             "settings.speed=150");
        ASSERT_TRUE(change.ok());
        ASSERT_TRUE((*record)->finishChange(*change, "changed", "tcp:127.0.0.1:6001", {{"settings.speed", {"150", "", ""}}}).ok());
        auto failed = (*record)->beginChange(*run, "tcp:127.0.0.1:6001", "logos", "logos=none", "logos=upload");
        ASSERT_TRUE(failed.ok());
        ASSERT_TRUE((*record)->finishChange(*failed, "failed: hung up", "tcp:127.0.0.1:6001", {}).ok());
        ASSERT_TRUE((*record)->finishRun(*run, "partial").ok());
        // A second run that dies after it began a change (no finish of either).
        auto killed = (*record)->beginRun("tcp:127.0.0.1:6001");
        ASSERT_TRUE(killed.ok());
        ASSERT_TRUE((*record)->beginChange(*killed, "tcp:127.0.0.1:6001", "logos", "logos=none", "logos=upload").ok());
        EXPECT_EQ((*record)->history().back().result, "running");
    }
    auto record = StateRecord::open(file);
    ASSERT_TRUE(record.ok()) << record.message();
    auto items = (*record)->applied("tcp:127.0.0.1:6001");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items["settings.speed"].value, "150");
    EXPECT_FALSE(items["settings.speed"].time.empty());
    EXPECT_TRUE((*record)->applied("/dev/ttyS0").empty());

    ASSERT_TRUE((*record)->beginRun("/dev/ttyS0").ok());
    EXPECT_EQ((*record)->history().back().result, "running") << "another printer's run leaves it alone";
    ASSERT_TRUE((*record)->beginRun("tcp:127.0.0.1:6001").ok());
    std::vector<std::string> results;
    for (const auto& row : (*record)->history("tcp:127.0.0.1:6001")) {
        results.push_back(row.section + ":" + row.result);
        EXPECT_FALSE(row.user.empty());
        EXPECT_EQ(row.printer, "tcp:127.0.0.1:6001");
    }
    EXPECT_EQ(results, (std::vector<std::string>{"settings:changed", "logos:failed: hung up", "logos:interrupted"}));
    EXPECT_TRUE((*record)->history("usb:none").empty());
}

TEST(StateRecord, UnusablePlaceIsOneLine)
{
    TempDir tmp;
    writeFileBytes(tmp / "file", "x");
    auto record = StateRecord::open(tmp / "file" / "record.sqlite");
    ASSERT_FALSE(record.ok());
    EXPECT_NE(record.message().find("record"), std::string::npos) << record.message();
}
