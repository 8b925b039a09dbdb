// Printer search timing against tavro-sim on loopback: with 1, 10 and 100 answering modules,
// how long until the last answer, and how much the search takes beyond the 1000 ms of silence
// that ends it.
//
//   net_bench [--sim PATH] [--runs N]
#include "app/Prompter.h"
#include "common/SocketUtil.h"
#include "common/UniqueFd.h"
#include "network/NetworkSettingEngine.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Ms = std::chrono::duration<double, std::milli>;
using Steady = std::chrono::steady_clock;

class SilentPrompter final : public Prompter {
public:
    PromptAnswer show(std::string_view text, PromptButtons, PromptIcon, std::string_view) override
    {
        std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
        return PromptAnswer::No;
    }
};

int freeUdpPort()
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    SocketUtil::parseIpv4("127.0.0.1", 0, &sa);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return 0;
    return SocketUtil::localPort(fd.get());
}

// tavro-sim with `count` modules on 127.0.200.x; stopped by the destructor.
class Sim {
public:
    Sim(const std::string& binary, int count, int port)
    {
        std::string addresses;
        for (int i = 1; i <= count; ++i)
            addresses += (i > 1 ? "," : "") + std::string("127.0.200.") + std::to_string(i);
        std::vector<std::string> args = {binary, "--udp", addresses, "--udp-port", std::to_string(port),
                                         "--udp-reply-port", std::to_string(port), "--quiet"};
        int out[2];
        if (::pipe(out) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(binary.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string seen;
        char buf[512];
        ssize_t n;
        while (seen.find("READY\n") == std::string::npos && (n = ::read(out[0], buf, sizeof buf)) > 0)
            seen.append(buf, static_cast<size_t>(n));
        m_ready = seen.find("READY\n") != std::string::npos;
        m_out = out[0];
    }
    ~Sim()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }
    bool ready() const { return m_ready; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_ready = false;
};

} // namespace

int main(int argc, char** argv)
{
    std::string sim = std::string(TAVRO_BIN_DIR) + "/tavro-sim";
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--sim"))
            sim = argv[i + 1];
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    std::printf("%-9s %6s %6s %16s %16s %18s\n", "printers", "runs", "rows", "last answer ms", "search ms",
                "beyond silence ms");
    for (int count : {1, 10, 100}) {
        const int port = freeUdpPort();
        Sim s(sim, count, port);
        if (!s.ready()) {
            std::fprintf(stderr, "net_bench: tavro-sim did not start (%s)\n", sim.c_str());
            return 1;
        }
        UdpSettings settings;
        settings.destination = "127.255.255.255";
        settings.bindAddress = "127.0.0.1";
        settings.port = port;
        SilentPrompter prompter;
        NetworkSettingEngine engine(prompter, settings);
        std::vector<double> last, total, beyond;
        size_t rows = 0;
        for (int r = 0; r < runs; ++r) {
            Steady::time_point lastRow{};
            const auto start = Steady::now();
            NetworkSearchResult result = engine.Search([&](const NetworkPrinterRow&) { lastRow = Steady::now(); });
            const auto end = Steady::now();
            rows = result.rows.size();
            if (rows == 0)
                lastRow = start;
            last.push_back(Ms(lastRow - start).count());
            total.push_back(Ms(end - start).count());
            beyond.push_back(Ms(end - lastRow).count() - Ms(settings.silence).count());
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf("%-9d %6d %6zu %16.2f %16.2f %18.2f\n", count, runs, rows, median(last), median(total),
                    median(beyond));
    }
    return 0;
}
