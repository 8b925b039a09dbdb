#pragma once
// The record of what this PC applied to which printer, and the history of every apply: one
// SQLite database in the tool's state folder (beside error.log). A printer is known by its
// identity (the MAC of a network printer, the USB serial number, otherwise its port).
//
// What it keeps:
//   applied  - per printer and item ("settings.speed", "logos", "firmware.program"): the value
//              last applied (a text; JSON for a section) and its digest.
//   runs     - one row per apply: when, who, where, which printer, and how it ended. A run
//              whose process was killed stays "running" until the next run for that printer
//              marks it "interrupted".
//   history  - one row per section changed: before, after, result.
// Every change is its own transaction, so a kill at any moment leaves the record as it was
// before or after that change, never between.
//
// Threads: one object per thread; several processes may use the database at once (SQLite
// locks it; a writer waits up to 5 s for another).
#include "app/Result.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

struct AppliedItem {
    std::string value;  // what was applied, as a text
    std::string digest; // its digest (empty for plain values)
    std::string time;   // UTC, ISO 8601
};

struct HistoryRow {
    std::int64_t run = 0;
    std::string time, user, host, printer, section, before, after, result;
};

class StateRecord {
public:
    // Opens (creating when needed) the database; fails with the path and SQLite's reason.
    static Result<std::unique_ptr<StateRecord>> open(const std::filesystem::path& file);
    // <state folder>/record.sqlite, the state folder being error.log's (app/AppPaths).
    static std::filesystem::path defaultPath();
    ~StateRecord();
    StateRecord(const StateRecord&) = delete;
    StateRecord& operator=(const StateRecord&) = delete;

    // Every item applied to the printer, by item name.
    std::map<std::string, AppliedItem> applied(const std::string& printer) const;

    // A new run for the printer ("apply"); earlier runs of it that are still "running" (their
    // process is gone) become "interrupted". Returns the run's id.
    Result<std::int64_t> beginRun(const std::string& printer);
    // One section about to change: its history row, result "started". Returns the row's id.
    Result<std::int64_t> beginChange(std::int64_t run, const std::string& printer, const std::string& section,
                                     const std::string& before, const std::string& after);
    // The section's end: its history row's result and, when it changed, the items now applied
    // (item name to value and digest) — in one transaction.
    Status finishChange(std::int64_t change, const std::string& result, const std::string& printer,
                        const std::map<std::string, AppliedItem>& items);
    Status finishRun(std::int64_t run, const std::string& status);

    // The history, oldest first (all printers when printer is empty). Rows of runs that
    // were killed show the result "interrupted".
    std::vector<HistoryRow> history(const std::string& printer = {}) const;

private:
    explicit StateRecord(sqlite3* db) : m_db(db) {}
    Status exec(const std::string& sql);
    sqlite3* m_db;
};
