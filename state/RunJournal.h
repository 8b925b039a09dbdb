#pragma once
// The journal of runs over many printers, in the record's database (its own tables): the run
// (when, who, where, which state file and its digest, the options), each printer of it (how it
// ended, its changes, how long it took) and each step of each printer as it starts and as it
// ends. Every note is one transaction, so a kill at any moment leaves the journal as it was
// before or after a note, never between: what it says started and did not end is what the
// killed run was doing. A resumed run reads it to learn which printers still need their turn.
//
// A run is "running" while its process lives; the journal keeps the process id and start time
// so that a later look can tell a live run from one that was killed.
//
// Threads: one object may be used from any number of threads (calls are serialized inside);
// several processes may use the database at once (a writer waits up to 10 s for another).
#include "app/Result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

struct JournalRun {
    std::int64_t id = 0;
    std::string started, user, host;
    std::string stateFile, stateDigest;
    std::string options;  // JSON text: what the command line asked for
    std::string status;   // running, finished, interrupted (its process is gone)
    std::int64_t resumes = 0; // the run this one resumed (0: none)
};

struct JournalPrinter {
    std::string name, identity, port;
    std::string status;  // waiting, running, unchanged, changed, failed, partial, cancelled, not started
    std::string error;
    std::string changes; // JSON text: the changes made (planned, for a check)
    double seconds = 0;
};

struct JournalStep {
    std::string printer, step, started, ended;
    std::string result; // started, done, failed: ..., interrupted (its run is gone)
};

class RunJournal {
public:
    // Opens (creating the tables when needed) the database; fails with the path and SQLite's reason.
    static Result<std::unique_ptr<RunJournal>> open(const std::filesystem::path& file);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // A new run of this process, with its printers (name, identity, port) waiting. Returns its id.
    Result<std::int64_t> beginRun(const std::string& stateFile, const std::string& stateDigest,
                                  const std::string& options, std::int64_t resumes,
                                  const std::vector<JournalPrinter>& printers);
    Status printerStarted(std::int64_t run, const std::string& printer);
    Status stepStarted(std::int64_t run, const std::string& printer, const std::string& step);
    Status stepEnded(std::int64_t run, const std::string& printer, const std::string& step, const std::string& result);
    Status printerFinished(std::int64_t run, const JournalPrinter& printer);
    Status finishRun(std::int64_t run);

    // The run as the journal has it (status "interrupted" when it still says running but its
    // process is gone); nullopt when there is no such run.
    std::optional<JournalRun> run(std::int64_t id) const;
    // The run's printers in the order they were listed, and its steps in the order they began.
    // Of a run whose process is gone, a printer or step that never ended shows "interrupted".
    std::vector<JournalPrinter> printers(std::int64_t run) const;
    std::vector<JournalStep> steps(std::int64_t run) const;
    // Whether the run's process is alive (on this host).
    bool alive(std::int64_t run) const;

private:
    explicit RunJournal(sqlite3* db) : m_db(db) {}
    Status exec(const std::string& sql) const;
    Status inTransaction(const std::function<Status()>& work);

    sqlite3* m_db;
    mutable std::mutex m_mutex;
};
