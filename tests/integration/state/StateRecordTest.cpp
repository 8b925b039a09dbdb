// The record: what was applied survives a reopen, a failed change leaves it as it was, a
// run whose process died shows as interrupted once the next run for that printer begins,
// and two printers never see each other's items.
#include "TempDir.h"
#include "state/StateRecord.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A run whose process died shows as interrupted at once — also one that had not begun a
// change — while a run of a live process is still running; a record written before runs
// kept their port and process is taken over as it is.
TEST(StateRecord, KilledProcessesAndAnOlderRecord)
{
    TempDir tmp;
    const auto file = tmp / "record.sqlite";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE runs (id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL, "
                               "user TEXT NOT NULL, host TEXT NOT NULL, printer TEXT NOT NULL, status TEXT NOT NULL);"
                               "INSERT INTO runs (started, user, host, printer, status) "
                               "VALUES ('2026-01-01T00:00:00Z', 'old', 'pc', '/dev/ttyS0', 'changed');",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    // Two processes that die in the middle of an apply: one before any change, one during one.
    for (bool withChange : {false, true}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto record = StateRecord::open(file);
            if (!record)
                ::_exit(3);
            auto run = (*record)->beginRun("mac:02:5C:3A:00:00:01", "tcp 127.0.0.1:9100");
            if (!run || (withChange && !(*record)->beginChange(*run, "mac:02:5C:3A:00:00:01", "network",
                                                                "network.ip=127.0.0.1", "network.ip=127.0.0.2")))
                ::_exit(4);
            ::_exit(0); // never finishes the run
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    auto record = StateRecord::open(file);
    ASSERT_TRUE(record.ok()) << record.message();
    auto live = (*record)->beginRun("mac:02:5C:3A:00:00:01", "tcp 127.0.0.1:9100");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE((*record)->beginChange(*live, "mac:02:5C:3A:00:00:01", "settings", "a", "b").ok());
    std::vector<std::string> rows;
    for (const auto& row : (*record)->history())
        rows.push_back(row.printer + " " + row.port + " " + row.section + ":" + row.result);
    EXPECT_EQ(rows, (std::vector<std::string>{"mac:02:5C:3A:00:00:01 tcp 127.0.0.1:9100 run:interrupted",
                                              "mac:02:5C:3A:00:00:01 tcp 127.0.0.1:9100 network:interrupted",
                                              "mac:02:5C:3A:00:00:01 tcp 127.0.0.1:9100 settings:running"}));
    ASSERT_TRUE((*record)->identifyRun(*live, "usb:SIM0000001").ok());
    EXPECT_EQ((*record)->history("usb:SIM0000001").size(), 1u);
}
