#pragma once
// What the record and the journal share about their SQLite database: a prepared statement
// that is finalized when it goes, the time, user and host every row of a run keeps, and what
// tells whether the process of a run still lives.
#include "app/Result.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace record_db {

// What tells a process apart from a later one with the same number: the boot and the
// process's start time in clock ticks since boot (/proc/PID/stat, field 22). "" when it
// cannot be read (no such process).
inline std::string processTag(pid_t pid)
{
    std::ifstream boot("/proc/sys/kernel/random/boot_id");
    std::string bootId;
    std::getline(boot, bootId);
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The command name may hold spaces and parentheses: the fields after it follow the last ')'.
    const auto close = line.rfind(')');
    if (bootId.empty() || close == std::string::npos)
        return {};
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && rest >> field; ++i)
        if (i == 22)
            return bootId + "/" + field;
    return {};
}

// UTC, ISO 8601 to the second.
inline std::string nowUtc()
{
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

inline std::string userName()
{
    // getpwuid_r: the worker threads of a run may ask at once.
    passwd pw{};
    passwd* found = nullptr;
    char buf[1024];
    if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return std::to_string(::geteuid());
}

inline std::string hostName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return buf;
}

// A prepared statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_db(db) { m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, const std::string& text)
    {
        if (m_ok)
            m_ok = sqlite3_bind_text(m_stmt, i, text.c_str(), int(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int i, std::int64_t v)
    {
        if (m_ok)
            m_ok = sqlite3_bind_int64(m_stmt, i, v) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int i, double v)
    {
        if (m_ok)
            m_ok = sqlite3_bind_double(m_stmt, i, v) == SQLITE_OK;
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return m_ok ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    std::string text(int column) const
    {
        const unsigned char* t = sqlite3_column_text(m_stmt, column);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool null(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    double real(int column) const { return sqlite3_column_double(m_stmt, column); }
    Status done(const char* what)
    {
        const int rc = step();
        if (rc == SQLITE_DONE || rc == SQLITE_ROW)
            return Status::success();
        return Status::failure(std::string("the record: ") + what + ": " + sqlite3_errmsg(m_db));
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = false;
};

// Runs the set-up script of a fresh connection (the journal mode, the tables), trying again
// while another process holds the database. Two processes that open a new record at the same
// moment both want it for themselves to turn on its write-ahead log; SQLite then answers one of
// them "database is locked" at once, without waiting for the busy timeout.
inline Status setUp(sqlite3* db, const std::string& script, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        char* error = nullptr;
        const int rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error);
        std::string why = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        if (rc == SQLITE_OK)
            return Status::success();
        const int primary = rc & 0xff;
        if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) || std::chrono::steady_clock::now() >= end)
            return Status::failure(why);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Opens (creating it and its folder when missing) the record's database for one connection:
// waits up to busyMs for another connection's write, keeps the write-ahead log with full sync
// (each transaction all or nothing across a kill, and across a power cut) and makes the tables
// of the script. The caller owns the connection.
inline Result<sqlite3*> openDatabase(const std::filesystem::path& file, int busyMs, const std::string& schema)
{
    std::error_code ec;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ec);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return Result<sqlite3*>::failure("cannot open the record " + file.string() + ": " + why);
    }
    sqlite3_busy_timeout(db, busyMs);
    if (Status s = setUp(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;" + schema); !s) {
        sqlite3_close(db);
        return Result<sqlite3*>::failure("cannot use the record " + file.string() + ": " + s.message());
    }
    return db;
}

} // namespace record_db
