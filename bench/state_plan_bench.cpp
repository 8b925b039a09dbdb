// `tavroctl plan` of a printer with nothing to change, next to `tavroctl setup get`, over
// tavro-sim's TCP port: both are one read of the settings, so a plan should cost at most a
// little more (the state file, the record, the LAN search that finds the printer's MAC, which
// ends at its answer). Runs each command many times, alternating, and prints the medians and
// their ratio; the goal is a ratio within 1.2. The search stays on loopback.
//
//   state_plan_bench [--runs N]
#include "SimProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

// Runs a shell command; the time in ms, or -1 when it did not exit with `expected`.
double timed(const std::string& command, int expected)
{
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == expected ? ms : -1.0;
}

// A UDP port free on loopback now, for the simulator's network module.
int freeUdpPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 15;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    const std::string udp = std::to_string(freeUdpPort());
    SimProcess sim({"--family", "6", "--quiet", "--tcp", "127.0.120.1:0", "--udp", "127.0.120.1", "--udp-port", udp,
                    "--udp-reply-port", udp});
    if (!sim.ok()) {
        std::fprintf(stderr, "state_plan_bench: %s\n", sim.error().c_str());
        return 1;
    }
    const std::filesystem::path dir = sim.runDir() / "bench";
    std::filesystem::create_directories(dir / "xdg");
    std::ofstream(dir / "state.yaml") << "tavro: 1\nsettings:\n  paper_width: 80\n  cut_mode: partial\n";
    const std::string tool = std::string(TAVRO_BIN_DIR) + "/tavroctl";
    const std::string prefix = "cd '" + dir.string() + "' && XDG_STATE_HOME='" + (dir / "xdg").string() + "' '" + tool +
                               "' --device 'TAVRO46/48 E-II' --port tcp://" + sim.tcpHost() + ":" +
                               std::to_string(sim.tcpPort());
    std::vector<double> get, plan;
    for (int i = 0; i < runs; ++i) {
        const double g = timed(prefix + " setup get >/dev/null 2>&1", 0);
        const double p = timed(prefix + " plan state.yaml --broadcast 127.255.255.255 --bind 127.0.0.1 --udp-port " +
                                   udp + " >/dev/null 2>&1",
                               0);
        if (g < 0 || p < 0) {
            std::fprintf(stderr, "state_plan_bench: run %d failed (setup get %s, plan %s)\n", i + 1,
                         g < 0 ? "failed" : "ok", p < 0 ? "did not find nothing to change" : "ok");
            return 1;
        }
        get.push_back(g);
        plan.push_back(p);
    }
    const double g = median(get), p = median(plan);
    std::printf("tcp, %d runs each: setup get median %.1f ms, plan (nothing to change) median %.1f ms, ratio %.2f "
                "(goal <= 1.20)\n",
                runs, g, p, p / g);
    return p / g <= 1.2 ? 0 : 2;
}
