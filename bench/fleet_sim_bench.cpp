// A virtual fleet under load: starts `tavro-sim --printers N` (2000 by default), connects to
// every printer over TCP, sends each the bytes of one user setup read over the network (enter
// user setting mode and the 17 Function 6 requests, as setup/SetupFrames builds them), waits
// for every answer, and reports the start-up time, the time for all reads and the
// simulator's memory (resident at READY, and its peak).
//
//   fleet_sim_bench [--sim PATH] [--printers N] [--at-once M]
//
// --at-once bounds how many printers are being read at the same time (default: all).
#include "BenchSim.h"

#include "app/PortName.h"
#include "setup/SetupFrames.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

struct Target {
    std::string address;
    int port = 0;
    int fd = -1;
    size_t sent = 0;
    int answers = 0; // replies complete so far (each ends in a NUL)
    bool done = false;
};

// "VmRSS:  1234 kB" from /proc/<pid>/status, in kB; -1 when not found.
long statusKb(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

bool connectTo(Target& t)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(t.port));
    if (::inet_pton(AF_INET, t.address.c_str(), &sa.sin_addr) != 1)
        return false;
    t.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (t.fd < 0)
        return false;
    return ::connect(t.fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 || errno == EINPROGRESS;
}

} // namespace

int main(int argc, char** argv)
{
    std::string sim = BenchSim::binary();
    int printers = 2000;
    size_t atOnce = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--sim") && i + 1 < argc)
            sim = argv[++i];
        else if (!std::strcmp(argv[i], "--printers") && i + 1 < argc)
            printers = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--at-once") && i + 1 < argc)
            atOnce = static_cast<size_t>(std::max(1, std::atoi(argv[++i])));
        else {
            std::fprintf(stderr, "usage: fleet_sim_bench [--sim PATH] [--printers N] [--at-once M]\n");
            return 2;
        }
    }
    // One socket per printer being read, on this side too.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    if (atOnce == 0)
        atOnce = static_cast<size_t>(printers);

    Bytes request = enterUserSettingFrame();
    for (uint8_t n : readRequestList(PortKind::Ethernet)) {
        Bytes one = transmitSettingFrame(n);
        request.insert(request.end(), one.begin(), one.end());
    }
    const int expected = 1 + static_cast<int>(readRequestList(PortKind::Ethernet).size());

    // Started by hand rather than with BenchSim::start: the fleet's READY line carries its size.
    int out[2];
    if (::pipe(out) != 0)
        return 1;
    auto startedAt = Clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<std::string> args{sim,           "--printers", std::to_string(printers), "--fleet-first",
                                      "127.6.0.1",   "--tcp-port", "0",                      "--udp-port",
                                      "0",           "--json",     "--quiet"};
        std::vector<char*> av;
        for (auto& a : args)
            av.push_back(a.data());
        av.push_back(nullptr);
        ::execv(sim.c_str(), av.data());
        ::_exit(127);
    }
    ::close(out[1]);
    BenchSim guard; // stops the simulator at every return
    guard.pid = pid;
    FILE* f = ::fdopen(out[0], "r");
    std::vector<Target> targets;
    std::string ready;
    char line[8192];
    while (std::fgets(line, sizeof line, f)) {
        std::string s(line);
        if (s.rfind("READY", 0) == 0) {
            ready = s;
            break;
        }
        if (s[0] == '{') {
            auto j = nlohmann::json::parse(s, nullptr, false);
            if (!j.is_discarded())
                targets.push_back({j["address"], j["port"]});
        }
    }
    const double startup = Ms(Clock::now() - startedAt).count();
    if (ready.empty()) {
        std::fprintf(stderr, "fleet_sim_bench: tavro-sim did not get ready\n");
        return 1;
    }
    const long rssAtReady = statusKb(pid, "VmRSS:");

    int ep = ::epoll_create1(EPOLL_CLOEXEC);
    size_t next = 0, open = 0, finished = 0, failed = 0;
    auto readsAt = Clock::now();
    auto launch = [&] {
        while (open < atOnce && next < targets.size()) {
            Target& t = targets[next];
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLOUT;
            ev.data.u64 = next++;
            if (!connectTo(t) || ::epoll_ctl(ep, EPOLL_CTL_ADD, t.fd, &ev) != 0) {
                ++failed;
                ++finished;
                continue;
            }
            ++open;
        }
    };
    auto finish = [&](Target& t, bool ok) {
        ::close(t.fd);
        t.done = true;
        --open;
        ++finished;
        if (!ok)
            ++failed;
    };
    launch();
    std::vector<epoll_event> events(1024);
    while (finished < targets.size()) {
        int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 10000);
        if (n <= 0) {
            std::fprintf(stderr, "fleet_sim_bench: no progress for 10 s (%zu of %zu finished)\n", finished, targets.size());
            break;
        }
        for (int i = 0; i < n; ++i) {
            Target& t = targets[events[i].data.u64];
            if (t.done)
                continue;
            if (events[i].events & EPOLLOUT && t.sent < request.size()) {
                ssize_t w = ::send(t.fd, request.data() + t.sent, request.size() - t.sent, MSG_NOSIGNAL);
                if (w > 0)
                    t.sent += static_cast<size_t>(w);
                else if (w < 0 && errno != EAGAIN) {
                    finish(t, false);
                    continue;
                }
                if (t.sent == request.size()) {
                    epoll_event ev{};
                    ev.events = EPOLLIN;
                    ev.data.u64 = events[i].data.u64;
                    ::epoll_ctl(ep, EPOLL_CTL_MOD, t.fd, &ev);
                }
            }
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                uint8_t buf[1024];
                ssize_t r = ::recv(t.fd, buf, sizeof buf, 0);
                if (r > 0) {
                    t.answers += static_cast<int>(std::count(buf, buf + r, 0));
                    if (t.answers >= expected)
                        finish(t, true);
                } else if (r == 0 || errno != EAGAIN) {
                    finish(t, false);
                }
            }
        }
        launch();
    }
    const double reads = Ms(Clock::now() - readsAt).count();
    const long peak = statusKb(pid, "VmHWM:");
    std::printf("printers            %zu (%s)\n", targets.size(), ready.substr(0, ready.find('\n')).c_str());
    std::printf("start-up to READY   %.0f ms\n", startup);
    std::printf("all setup reads     %.0f ms (%zu at once, %d answers each, %zu failed)\n", reads, atOnce, expected, failed);
    std::printf("RSS at READY        %ld kB (%.1f kB a printer)\n", rssAtReady, double(rssAtReady) / double(targets.size()));
    std::printf("peak RSS            %ld kB\n", peak);
    return failed == 0 && finished == targets.size() ? 0 : 1;
}
