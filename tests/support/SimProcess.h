#pragma once
// Runs the virtual printer (build*/bin/tavro-sim) as a child process for an integration test.
//
//   SimProcess sim({"--serial", "--tcp", "127.0.0.1:0"});
//   ASSERT_TRUE(sim.ok()) << sim.error();
//   std::string port = sim.serialPort();          // <run dir>/ttySIM0
//   std::string tcp  = sim.env("TAVRO_SIM_TCP");   // "127.0.0.1:40123"
//   ... drive the tool ...
//   ASSERT_TRUE(sim.waitForEvent("\"fn\":5"));     // a JSON line in the event log
//
// The constructor starts the program in a fresh temporary run dir (--run-dir, removed again by
// the destructor) and waits until it prints READY (or the time-out passes, or it exits). The
// NAME=VALUE lines printed before READY are kept (env()); stop() or the destructor send SIGTERM,
// wait for the exit (SIGKILL after the stop time-out) and remove the run dir.
//
// The printer's state folder is <run dir>/state unless the arguments contain --state DIR. Its
// event log, one JSON object per line and command received, is <state>/events.jsonl.
//
// Threads: the object may be used from one test thread at a time; a private reader thread
// drains the child's stdout so that it never blocks on a full pipe.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

class SimProcess {
public:
    using Ms = std::chrono::milliseconds;

    // The tavro-sim binary next to the test executables. Tests built with tavro_gtest have
    // TAVRO_BIN_DIR; others may set the environment variable TAVRO_SIM_BIN.
    static std::string defaultBinary()
    {
        if (const char* env = std::getenv("TAVRO_SIM_BIN"); env && *env)
            return env;
#ifdef TAVRO_BIN_DIR
        return std::string(TAVRO_BIN_DIR) + "/tavro-sim";
#else
        return "tavro-sim";
#endif
    }

    // Starts `binary args... --run-dir <temp>`; waits up to readyTimeout for READY.
    // On failure ok() is false and error() says why (the child is stopped again).
    explicit SimProcess(std::vector<std::string> args = {}, std::string binary = defaultBinary(),
                        Ms readyTimeout = Ms(20000));
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ok() const { return m_ready; }
    const std::string& error() const { return m_error; }
    pid_t pid() const { return m_pid; }

    // The NAME=VALUE lines printed before READY, in order.
    const std::vector<std::pair<std::string, std::string>>& envLines() const { return m_env; }
    // Value of one of them, "" when it was not printed.
    std::string env(const std::string& name) const;
    // setenv() for every env line (process wide: call it before starting threads).
    void applyEnvironment() const;

    const std::filesystem::path& runDir() const { return m_runDir; }
    const std::filesystem::path& stateDir() const { return m_stateDir; }
    std::filesystem::path eventLogPath() const { return m_stateDir / "events.jsonl"; }

    // The paths listed in TAVRO_EXTRA_PORTS whose basename begins with "tty" / "lp"; "" if none.
    std::string serialPort() const;
    std::string parallelPort() const;
    // TAVRO_SIM_TCP split into host and port; port 0 when it was not printed.
    std::string tcpHost() const;
    int tcpPort() const;

    // Lines the program printed after READY so far (one per command received).
    std::vector<std::string> outputLines() const;
    // Waits until an output line after READY contains `needle`; false at the time-out.
    bool waitForOutput(const std::string& needle, Ms timeout = Ms(10000)) const;

    // The event log's lines now (empty when it does not exist yet).
    std::vector<std::string> events() const;
    // Waits until at least `count` event lines contain `needle`; false at the time-out.
    bool waitForEvent(const std::string& needle, Ms timeout = Ms(10000), size_t count = 1) const;

    // SIGTERM, waits up to `timeout` for the exit, then SIGKILL. Returns the exit status as
    // waitpid gives it, or -1 when no child was running. Idempotent.
    int stop(Ms timeout = Ms(10000));
    bool running() const { return m_pid > 0; }

private:
    void readerLoop();
    bool readUntilReady(Ms timeout);
    void parsePending(std::string& pending);

    std::vector<std::string> m_args;
    std::filesystem::path m_runDir;
    std::filesystem::path m_stateDir;
    bool m_ownRunDir = false;
    pid_t m_pid = -1;
    int m_outFd = -1;
    bool m_ready = false;
    std::string m_error;
    std::vector<std::pair<std::string, std::string>> m_env;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cond;
    std::vector<std::string> m_lines;
    std::string m_pending;
    bool m_eof = false;
    int m_wakePipe[2] = {-1, -1};
    std::thread m_reader;
};
