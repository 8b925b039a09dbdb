#include "state/RunJournal.h"

#include "state/RecordDb.h"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using record_db::Statement;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS fleet_runs (
  id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL, user TEXT NOT NULL, host TEXT NOT NULL,
  pid INTEGER NOT NULL, pid_start TEXT NOT NULL, state_file TEXT NOT NULL, state_digest TEXT NOT NULL,
  options TEXT NOT NULL, resumes INTEGER NOT NULL, status TEXT NOT NULL, finished TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS fleet_printers (
  run INTEGER NOT NULL REFERENCES fleet_runs(id), name TEXT NOT NULL, identity TEXT NOT NULL, port TEXT NOT NULL,
  status TEXT NOT NULL, error TEXT NOT NULL DEFAULT '', changes TEXT NOT NULL DEFAULT '[]',
  seconds REAL NOT NULL DEFAULT 0, PRIMARY KEY (run, name));
CREATE TABLE IF NOT EXISTS fleet_steps (
  id INTEGER PRIMARY KEY AUTOINCREMENT, run INTEGER NOT NULL REFERENCES fleet_runs(id), printer TEXT NOT NULL,
  step TEXT NOT NULL, started TEXT NOT NULL, ended TEXT NOT NULL DEFAULT '', result TEXT NOT NULL);
)sql";


} // namespace

Result<std::unique_ptr<RunJournal>> RunJournal::open(const std::filesystem::path& file)
{
    // The printers' jobs write their record rows through connections of their own meanwhile.
    auto db = record_db::openDatabase(file, 10000, kSchema);
    if (!db)
        return Result<std::unique_ptr<RunJournal>>(db.status());
    return Result<std::unique_ptr<RunJournal>>(std::unique_ptr<RunJournal>(new RunJournal(*db)));
}

RunJournal::~RunJournal()
{
    sqlite3_close(m_db);
}

Status RunJournal::exec(const std::string& sql) const
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK)
        return Status::success();
    std::string why = error ? error : sqlite3_errmsg(m_db);
    sqlite3_free(error);
    return Status::failure("the journal: " + why);
}

Status RunJournal::inTransaction(const std::function<Status()>& work)
{
    std::lock_guard lock(m_mutex);
    if (Status s = exec("BEGIN IMMEDIATE"); !s)
        return s;
    Status s = work();
    if (!s) {
        (void)exec("ROLLBACK");
        return s;
    }
    return exec("COMMIT");
}

Result<std::int64_t> RunJournal::beginRun(const std::string& stateFile, const std::string& stateDigest,
                                          const std::string& options, std::int64_t resumes,
                                          const std::vector<JournalPrinter>& printers)
{
    std::int64_t id = 0;
    Status s = inTransaction([&] {
        const long pid = long(::getpid());
        Statement run(m_db, "INSERT INTO fleet_runs (started, user, host, pid, pid_start, state_file, state_digest, "
                            "options, resumes, status) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 'running')");
        Status r = run.bind(1, record_db::nowUtc())
                       .bind(2, record_db::userName())
                       .bind(3, record_db::hostName())
                       .bind(4, std::int64_t(pid))
                       .bind(5, record_db::processTag(pid_t(pid)))
                       .bind(6, stateFile)
                       .bind(7, stateDigest)
                       .bind(8, options)
                       .bind(9, resumes)
                       .done("starting a run");
        if (!r)
            return r;
        id = sqlite3_last_insert_rowid(m_db);
        for (const auto& p : printers) {
            Statement add(m_db, "INSERT INTO fleet_printers (run, name, identity, port, status) VALUES (?, ?, ?, ?, ?)");
            r = add.bind(1, id).bind(2, p.name).bind(3, p.identity).bind(4, p.port).bind(5, p.status).done("listing a printer");
            if (!r)
                return r;
        }
        return r;
    });
    if (!s)
        return Result<std::int64_t>(s);
    return id;
}

Status RunJournal::printerStarted(std::int64_t run, const std::string& printer)
{
    return inTransaction([&] {
        Statement q(m_db, "UPDATE fleet_printers SET status = 'running' WHERE run = ? AND name = ?");
        return q.bind(1, run).bind(2, printer).done("starting a printer");
    });
}

Status RunJournal::stepStarted(std::int64_t run, const std::string& printer, const std::string& step)
{
    return inTransaction([&] {
        Statement q(m_db, "INSERT INTO fleet_steps (run, printer, step, started, result) VALUES (?, ?, ?, ?, 'started')");
        return q.bind(1, run).bind(2, printer).bind(3, step).bind(4, record_db::nowUtc()).done("starting a step");
    });
}

Status RunJournal::stepEnded(std::int64_t run, const std::string& printer, const std::string& step,
                             const std::string& result)
{
    return inTransaction([&] {
        Statement q(m_db, "UPDATE fleet_steps SET ended = ?, result = ? WHERE id = (SELECT MAX(id) FROM fleet_steps "
                          "WHERE run = ? AND printer = ? AND step = ?)");
        return q.bind(1, record_db::nowUtc()).bind(2, result).bind(3, run).bind(4, printer).bind(5, step)
            .done("ending a step");
    });
}

Status RunJournal::printerFinished(std::int64_t run, const JournalPrinter& p)
{
    return inTransaction([&] {
        Statement q(m_db, "UPDATE fleet_printers SET identity = ?, status = ?, error = ?, changes = ?, seconds = ? "
                          "WHERE run = ? AND name = ?");
        Status s = q.bind(1, p.identity).bind(2, p.status).bind(3, p.error).bind(4, p.changes).bind(5, p.seconds)
                       .bind(6, run).bind(7, p.name).done("finishing a printer");
        if (!s)
            return s;
        // A step the printer's job began and never ended ended with the job.
        Statement open(m_db, "UPDATE fleet_steps SET ended = ?, result = ? WHERE run = ? AND printer = ? AND "
                             "result = 'started'");
        return open.bind(1, record_db::nowUtc()).bind(2, std::string("failed: ") + p.status).bind(3, run)
            .bind(4, p.name).done("closing the printer's steps");
    });
}

Status RunJournal::finishRun(std::int64_t run)
{
    return inTransaction([&] {
        Statement q(m_db, "UPDATE fleet_runs SET status = 'finished', finished = ? WHERE id = ?");
        return q.bind(1, record_db::nowUtc()).bind(2, run).done("finishing the run");
    });
}

bool RunJournal::alive(std::int64_t run) const
{
    std::int64_t pid = 0;
    std::string start, host, status;
    {
        std::lock_guard lock(m_mutex);
        Statement q(m_db, "SELECT pid, pid_start, host, status FROM fleet_runs WHERE id = ?");
        q.bind(1, run);
        if (q.step() != SQLITE_ROW)
            return false;
        pid = q.integer(0);
        start = q.text(1);
        host = q.text(2);
        status = q.text(3);
    }
    if (status != "running" || host != record_db::hostName() || pid <= 0)
        return false;
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
    return record_db::processTag(pid_t(pid)) == start;
}

std::optional<JournalRun> RunJournal::run(std::int64_t id) const
{
    JournalRun r;
    {
        std::lock_guard lock(m_mutex);
        Statement q(m_db, "SELECT id, started, user, host, state_file, state_digest, options, status, resumes "
                          "FROM fleet_runs WHERE id = ?");
        q.bind(1, id);
        if (q.step() != SQLITE_ROW)
            return std::nullopt;
        r = {q.integer(0), q.text(1), q.text(2), q.text(3), q.text(4), q.text(5), q.text(6), q.text(7), q.integer(8)};
    }
    if (r.status == "running" && !alive(id))
        r.status = "interrupted";
    return r;
}

std::vector<JournalPrinter> RunJournal::printers(std::int64_t run) const
{
    const bool gone = !alive(run);
    std::lock_guard lock(m_mutex);
    std::vector<JournalPrinter> list;
    Statement q(m_db, "SELECT name, identity, port, status, error, changes, seconds FROM fleet_printers WHERE run = ? "
                      "ORDER BY rowid");
    q.bind(1, run);
    while (q.step() == SQLITE_ROW)
        list.push_back({q.text(0), q.text(1), q.text(2), q.text(3), q.text(4), q.text(5), q.real(6)});
    for (auto& p : list)
        if (gone && p.status == "running")
            p.status = "interrupted";
    return list;
}

std::vector<JournalStep> RunJournal::steps(std::int64_t run) const
{
    const bool gone = !alive(run);
    std::lock_guard lock(m_mutex);
    std::vector<JournalStep> list;
    Statement q(m_db, "SELECT printer, step, started, ended, result FROM fleet_steps WHERE run = ? ORDER BY id");
    q.bind(1, run);
    while (q.step() == SQLITE_ROW)
        list.push_back({q.text(0), q.text(1), q.text(2), q.text(3), q.text(4)});
    for (auto& s : list)
        if (gone && s.result == "started")
            s.result = "interrupted";
    return list;
}
