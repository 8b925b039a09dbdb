#include "state/StateRecord.h"

#include "app/AppPaths.h"
#include "state/RecordDb.h"

#include <set>

namespace {

using record_db::Statement;
using record_db::hostName;
using record_db::nowUtc;
using record_db::userName;
using record_db::processTag;

// A run marked "running" whose process is gone. Only a run of this host can be told; a run
// of an older tool (no process kept) is taken as running until the next run ends it.
bool runProcessGone(const std::string& host, std::int64_t pid, const std::string& tag, const std::string& thisHost)
{
    if (pid <= 0 || tag.empty() || host != thisHost)
        return false;
    return processTag(pid_t(pid)) != tag;
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS applied (
  printer TEXT NOT NULL, item TEXT NOT NULL, value TEXT NOT NULL, digest TEXT NOT NULL, time TEXT NOT NULL,
  PRIMARY KEY (printer, item));
CREATE TABLE IF NOT EXISTS runs (
  id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL, user TEXT NOT NULL, host TEXT NOT NULL,
  printer TEXT NOT NULL, status TEXT NOT NULL, port TEXT NOT NULL DEFAULT '', pid INTEGER NOT NULL DEFAULT 0,
  process TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS history (
  id INTEGER PRIMARY KEY AUTOINCREMENT, run INTEGER NOT NULL REFERENCES runs(id), time TEXT NOT NULL,
  printer TEXT NOT NULL, section TEXT NOT NULL, before TEXT NOT NULL, after TEXT NOT NULL, result TEXT NOT NULL);
)sql";

} // namespace

std::filesystem::path StateRecord::defaultPath()
{
    std::error_code ec;
    auto cwd = std::filesystem::current_path(ec);
    const AppPaths paths = resolveAppPaths(ec ? std::filesystem::path(".") : cwd, XdgDirs::fromEnvironment());
    return paths.errorLog.parent_path() / "record.sqlite";
}

Result<std::unique_ptr<StateRecord>> StateRecord::open(const std::filesystem::path& file)
{
    using R = Result<std::unique_ptr<StateRecord>>;
    auto db = record_db::openDatabase(file, 5000, kSchema);
    if (!db)
        return R(db.status());
    std::unique_ptr<StateRecord> record(new StateRecord(*db));
    if (Status s = record->upgrade(); !s)
        return R::failure("cannot use the record " + file.string() + ": " + s.message());
    return R(std::move(record));
}

StateRecord::~StateRecord()
{
    sqlite3_close(m_db);
}

Status StateRecord::upgrade()
{
    // A record written before runs kept their port and process gets the columns, empty.
    std::set<std::string> columns;
    {
        Statement q(m_db, "PRAGMA table_info(runs)");
        while (q.step() == SQLITE_ROW)
            columns.insert(q.text(1));
    }
    std::string sql;
    for (const char* column : {"port TEXT NOT NULL DEFAULT ''", "pid INTEGER NOT NULL DEFAULT 0",
                               "process TEXT NOT NULL DEFAULT ''"}) {
        const std::string name = std::string(column).substr(0, std::string(column).find(' '));
        if (!columns.count(name))
            sql += "ALTER TABLE runs ADD COLUMN " + std::string(column) + ";";
    }
    if (sql.empty())
        return Status::success();
    return exec("BEGIN IMMEDIATE;" + sql + "COMMIT;");
}

Status StateRecord::exec(const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK)
        return Status::success();
    std::string why = error ? error : sqlite3_errmsg(m_db);
    sqlite3_free(error);
    return Status::failure(why);
}

std::map<std::string, AppliedItem> StateRecord::applied(const std::string& printer) const
{
    std::map<std::string, AppliedItem> items;
    Statement q(m_db, "SELECT item, value, digest, time FROM applied WHERE printer = ?");
    q.bind(1, printer);
    while (q.step() == SQLITE_ROW)
        items[q.text(0)] = {q.text(1), q.text(2), q.text(3)};
    return items;
}

Result<std::int64_t> StateRecord::beginRun(const std::string& printer, const std::string& port)
{
    if (Status s = exec("BEGIN IMMEDIATE"); !s)
        return Result<std::int64_t>::failure("the record: " + s.message());
    Statement mark(m_db, "UPDATE runs SET status = 'interrupted' WHERE printer = ? AND status = 'running'");
    Status s = mark.bind(1, printer).done("marking interrupted runs");
    Statement insert(m_db, "INSERT INTO runs (started, user, host, printer, status, port, pid, process) "
                           "VALUES (?, ?, ?, ?, 'running', ?, ?, ?)");
    if (s)
        s = insert.bind(1, nowUtc()).bind(2, userName()).bind(3, hostName()).bind(4, printer).bind(5, port)
                .bind(6, std::int64_t(::getpid())).bind(7, processTag(::getpid())).done("starting a run");
    if (!s) {
        (void)exec("ROLLBACK");
        return Result<std::int64_t>(s);
    }
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);
    if (Status c = exec("COMMIT"); !c)
        return Result<std::int64_t>::failure("the record: " + c.message());
    return id;
}

Status StateRecord::identifyRun(std::int64_t run, const std::string& printer)
{
    Statement update(m_db, "UPDATE runs SET printer = ? WHERE id = ?");
    return update.bind(1, printer).bind(2, run).done("naming the run's printer");
}

Result<std::int64_t> StateRecord::beginChange(std::int64_t run, const std::string& printer, const std::string& section,
                                              const std::string& before, const std::string& after)
{
    Statement insert(m_db, "INSERT INTO history (run, time, printer, section, before, after, result) "
                           "VALUES (?, ?, ?, ?, ?, ?, 'started')");
    if (Status s = insert.bind(1, run).bind(2, nowUtc()).bind(3, printer).bind(4, section).bind(5, before)
                       .bind(6, after).done("noting a change");
        !s)
        return Result<std::int64_t>(s);
    return std::int64_t(sqlite3_last_insert_rowid(m_db));
}

Status StateRecord::finishChange(std::int64_t change, const std::string& result, const std::string& printer,
                                 const std::map<std::string, AppliedItem>& items)
{
    if (Status s = exec("BEGIN IMMEDIATE"); !s)
        return Status::failure("the record: " + s.message());
    Statement update(m_db, "UPDATE history SET result = ?, time = ? WHERE id = ?");
    Status s = update.bind(1, result).bind(2, nowUtc()).bind(3, change).done("finishing a change");
    const std::string time = nowUtc();
    for (const auto& [item, applied] : items) {
        if (!s)
            break;
        Statement upsert(m_db, "INSERT INTO applied (printer, item, value, digest, time) VALUES (?, ?, ?, ?, ?) "
                               "ON CONFLICT (printer, item) DO UPDATE SET value = excluded.value, "
                               "digest = excluded.digest, time = excluded.time");
        s = upsert.bind(1, printer).bind(2, item).bind(3, applied.value).bind(4, applied.digest).bind(5, time)
                .done("keeping what was applied");
    }
    if (!s) {
        (void)exec("ROLLBACK");
        return s;
    }
    if (Status c = exec("COMMIT"); !c)
        return Status::failure("the record: " + c.message());
    return Status::success();
}

Status StateRecord::finishRun(std::int64_t run, const std::string& status)
{
    Statement update(m_db, "UPDATE runs SET status = ? WHERE id = ?");
    return update.bind(1, status).bind(2, run).done("finishing the run");
}

std::vector<HistoryRow> StateRecord::history(const std::string& printer) const
{
    std::vector<HistoryRow> rows;
    const std::string thisHost = hostName();
    Statement q(m_db, "SELECT r.id, r.started, r.user, r.host, r.printer, r.port, r.status, r.pid, r.process, "
                      "h.time, h.section, h.before, h.after, h.result "
                      "FROM runs r LEFT JOIN history h ON h.run = r.id WHERE ? = '' OR r.printer = ? "
                      "ORDER BY r.id, h.id");
    q.bind(1, printer).bind(2, printer);
    while (q.step() == SQLITE_ROW) {
        const std::string status = q.text(6);
        const bool killed = status == "interrupted" ||
                            (status == "running" && runProcessGone(q.text(3), q.integer(7), q.text(8), thisHost));
        HistoryRow row{q.integer(0), q.text(9), q.text(2), q.text(3), q.text(4), q.text(10), q.text(11), q.text(12),
                       q.text(13), q.text(5)};
        if (q.null(9)) {
            // A run without changes: worth a line only when it was cut short.
            if (!killed)
                continue;
            row.time = q.text(1);
            row.section = "run";
            row.result = "interrupted";
        } else if (row.result == "started") {
            row.result = killed || status != "running" ? "interrupted" : "running";
        }
        rows.push_back(std::move(row));
    }
    return rows;
}
