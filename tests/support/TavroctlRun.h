#pragma once
// Runs the tavroctl program of the build as a user would, for the CLI integration tests.
#include "TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

struct CliRun {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// The text in single quotes for /bin/sh.
inline std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// `cd workDir && <envPrefix> tavroctl args`, standard input closed; stderr is collected
// through a file in workDir. envPrefix is "NAME=value ..." (already quoted) or empty.
inline CliRun runTavroctl(const std::filesystem::path& workDir, const std::string& envPrefix,
                          const std::string& args)
{
    CliRun run;
    auto errFile = workDir / "tavroctl-stderr.txt";
    std::string cmd = "cd " + shellQuote(workDir.string()) + " && " + envPrefix + " " +
                      shellQuote(std::string(TAVRO_BIN_DIR) + "/tavroctl") + " " + args + " 2>" +
                      shellQuote(errFile.string()) + " </dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        run.out.append(buffer, n);
    int status = ::pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = readFileBytes(errFile);
    return run;
}

// tavroctl started in the background, for tests that signal it: `cd workDir && exec env
// <envPrefix> tavroctl args` (the shell and env exec in place, so pid is tavroctl's), standard
// input closed, stdout and stderr collected in files of workDir. A run that is still going
// when the object goes is killed.
class BackgroundTavroctl {
public:
    BackgroundTavroctl(const std::filesystem::path& workDir, const std::string& envPrefix, const std::string& args)
        : m_out(workDir / "tavroctl-bg-stdout.txt"), m_err(workDir / "tavroctl-bg-stderr.txt")
    {
        const std::string cmd = "cd " + shellQuote(workDir.string()) + " && exec env " + envPrefix + " " +
                                shellQuote(std::string(TAVRO_BIN_DIR) + "/tavroctl") + " " + args + " >" +
                                shellQuote(m_out.string()) + " 2>" + shellQuote(m_err.string()) + " </dev/null";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~BackgroundTavroctl()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    BackgroundTavroctl(const BackgroundTavroctl&) = delete;
    BackgroundTavroctl& operator=(const BackgroundTavroctl&) = delete;

    bool started() const { return m_pid > 0; }
    bool signal(int sig) const { return m_pid > 0 && ::kill(m_pid, sig) == 0; }
    // Waits up to timeout for the exit. The result as runTavroctl gives it; status -1 when
    // it did not exit normally in time (it is then killed).
    CliRun wait(std::chrono::milliseconds timeout)
    {
        CliRun run;
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (m_pid > 0) {
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        run.out = readFileBytes(m_out);
        run.err = readFileBytes(m_err);
        return run;
    }
    // What the program wrote to stderr so far.
    std::string errorText() const { return readFileBytes(m_err); }

private:
    std::filesystem::path m_out;
    std::filesystem::path m_err;
    pid_t m_pid = -1;
};
