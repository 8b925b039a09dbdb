#pragma once
// Runs the tavroctl program of the build as a user would, for the CLI integration tests.
#include "TempDir.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

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
