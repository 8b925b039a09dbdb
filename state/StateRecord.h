#pragma once
// The record of what this PC applied to which printer, and the history of every apply: one
// SQLite database in the tool's state folder (beside error.log). A printer is known by its
// identity (the MAC of a network printer, the USB serial number, otherwise its port).
//
// What it keeps:
//   applied  - per printer and item ("settings.speed", "logos", "firmware.program"): the value
//              last applied (a text; JSON for a section) and its digest.
//   runs     - one row per apply: when, who, on which host and in which process, which printer
//              and through which port, and how it ended. A run whose process is gone without
//              ending it (killed) shows as "interrupted"; the next run for that printer also
//              writes it so.
//   history  - one row per section changed: before, after, result.
// Every change is its own transaction, so a kill at any moment leaves the record as it was
// before or after that change, never between. The database runs in WAL mode: the readers
// (plan, history, the desktop dialog) never wait for a writer, many processes may apply at
// once, and a commit is one append that the next opener replays or drops after a kill.
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
    std::string port; // the connection the printer was reached through ("tcp 10.0.0.5:9100")
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

    // A new run for the printer ("apply") through port; earlier runs of it that are still
    // "running" (their process is gone) become "interrupted". Returns the run's id.
    Result<std::int64_t> beginRun(const std::string& printer, const std::string& port = {});
    // The printer of a run that began before its identity was known (a network printer's MAC
    // comes from a search that is part of the run).
    Status identifyRun(std::int64_t run, const std::string& printer);
    // One section about to change: its history row, result "started". Returns the row's id.
    Result<std::int64_t> beginChange(std::int64_t run, const std::string& printer, const std::string& section,
                                     const std::string& before, const std::string& after);
    // The section's end: its history row's result and, when it changed, the items now applied
    // (item name to value and digest) — in one transaction.
    Status finishChange(std::int64_t change, const std::string& result, const std::string& printer,
                        const std::map<std::string, AppliedItem>& items);
    Status finishRun(std::int64_t run, const std::string& status);

    // The history, run by run, oldest first (all printers when printer is empty). Rows of
    // runs that were killed show the result "interrupted"; a killed run that had not begun
    // a change yet is one row of section "run".
    std::vector<HistoryRow> history(const std::string& printer = {}) const;

private:
    explicit StateRecord(sqlite3* db) : m_db(db) {}
    Status exec(const std::string& sql);
    Status upgrade();
    sqlite3* m_db;
};
