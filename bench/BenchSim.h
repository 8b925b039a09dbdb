#pragma once
// The virtual printer for a benchmark: tavro-sim started with the given arguments, its
// environment lines (ports, TCP address) read up to its READY line, stopped at the end.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct BenchSim {
    pid_t pid = -1;
    std::map<std::string, std::string> env;
    BenchSim() = default;
    BenchSim(const BenchSim&) = delete;
    BenchSim& operator=(const BenchSim&) = delete;
    ~BenchSim()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // The tavro-sim next to the running program, or $TAVRO_SIM_BIN.
    static std::string binary()
    {
        if (const char* bin = std::getenv("TAVRO_SIM_BIN"))
            return bin;
        return (std::filesystem::canonical("/proc/self/exe").parent_path() / "tavro-sim").string();
    }

    // False when the simulator ended before READY.
    bool start(const std::string& program, std::vector<std::string> args)
    {
        int out[2];
        if (::pipe(out) != 0)
            return false;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* f = ::fdopen(out[0], "r");
        char line[4096];
        while (std::fgets(line, sizeof line, f)) {
            std::string s(line);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
                s.pop_back();
            if (s == "READY")
                return true; // the pipe stays open (the simulator is --quiet)
            auto eq = s.find('=');
            if (eq != std::string::npos)
                env[s.substr(0, eq)] = s.substr(eq + 1);
        }
        return false;
    }

    // The first extra port whose file name starts with prefix ("lp": the parallel port).
    std::string extraPort(const std::string& prefix) const
    {
        auto it = env.find("TAVRO_EXTRA_PORTS");
        if (it == env.end())
            return {};
        std::string list = it->second;
        for (std::size_t start = 0; start <= list.size();) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            const std::string port = list.substr(start, end - start);
            const std::size_t slash = port.rfind('/');
            if (port.compare(slash == std::string::npos ? 0 : slash + 1, prefix.size(), prefix) == 0)
                return port;
            start = end + 1;
        }
        return {};
    }

    // The first serial pty the simulator offers.
    std::string serialPort() const
    {
        auto it = env.find("TAVRO_EXTRA_PORTS");
        return it == env.end() ? std::string() : it->second.substr(0, it->second.find(':'));
    }
};
