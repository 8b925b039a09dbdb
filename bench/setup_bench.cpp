// `setup get` timing against tavro-sim (unpaced): what `tavroctl setup get` does in-process,
// over the simulator's serial pty and over TCP, many times; prints the median, the fastest
// and the slowest run per connection. The printer's own waits over the network (17 requests
// 10 ms apart, then 100 ms) stay in; everything else is ours.
//
//   setup_bench [--sim PATH] [--runs N]
#include "SimProcess.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/Prompter.h"
#include "port/CPorts.h"
#include "port/EthernetLink.h"
#include "setup/SetupSession.h"
#include "setup/SetupValueCollector.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Ms = std::chrono::duration<double, std::milli>;

class SilentPrompter final : public Prompter {
public:
    PromptAnswer show(std::string_view text, PromptButtons, PromptIcon, std::string_view) override
    {
        std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
        return PromptAnswer::No;
    }
};

// One `setup get`: open, the requests, every answer, EXIT. Returns the time, or -1 when an
// answer was missing.
double setupGet(CPorts& ports, Prompter& prompter, CErrorLog& log)
{
    SetupValueCollector collector;
    auto start = std::chrono::steady_clock::now();
    bool complete = false;
    {
        SetupSession session(ports.Settings(), ConnectionHost{SystemClock::instance(), prompter, log}, collector, false);
        collector.Attach(&session);
        if (session.Open() == SetupSession::OpenResult::Opened &&
            session.GetValue() == SetupSession::ReadResult::Requested)
            complete = collector.WaitFor(session.RequestList(), std::chrono::seconds(5));
        session.Exit();
        collector.Attach(nullptr);
    }
    double took = Ms(std::chrono::steady_clock::now() - start).count();
    return complete ? took : -1.0;
}

struct Summary {
    double median = 0, fastest = 0, slowest = 0;
    int failed = 0;
};

Summary measure(CPorts& ports, Prompter& prompter, CErrorLog& log, int runs)
{
    std::vector<double> times;
    Summary s;
    setupGet(ports, prompter, log); // warm-up: first opens, page cache
    for (int i = 0; i < runs; ++i) {
        double t = setupGet(ports, prompter, log);
        if (t < 0)
            ++s.failed;
        else
            times.push_back(t);
    }
    if (times.empty())
        return s;
    std::sort(times.begin(), times.end());
    s.median = times[times.size() / 2];
    s.fastest = times.front();
    s.slowest = times.back();
    return s;
}

void print(const char* what, const Summary& s, int runs, double goal)
{
    std::printf("%-12s median %7.1f ms  fastest %7.1f  slowest %7.1f  (%d runs, %d incomplete)  goal <= %.0f ms: %s\n",
                what, s.median, s.fastest, s.slowest, runs, s.failed, goal,
                s.failed == 0 && s.median <= goal ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv)
{
    std::string sim = SimProcess::defaultBinary();
    int runs = 30;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--sim") && i + 1 < argc)
            sim = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: setup_bench [--sim PATH] [--runs N]\n");
            return 2;
        }
    }
    SimProcess printer({"--family", "6", "--serial", "--tcp", "127.0.0.1:0", "--quiet"}, sim);
    if (!printer.ok()) {
        std::fprintf(stderr, "setup_bench: %s\n", printer.error().c_str());
        return 1;
    }
    SilentPrompter prompter;
    CErrorLog log;
    CPorts ports(prompter, SystemClock::instance(), log);
    ports.m_ModelFamily = kFamilyTavro46;
    ports.m_BaudRate = 115200;
    ports.m_ByteSize = 8;
    ports.m_Parity = 0;
    ports.m_StopBits = 0;
    ports.m_FlowCtrl = 3;

    ports.m_PortName = printer.serialPort();
    Summary pty = measure(ports, prompter, log, runs);

    EthInit(nullptr, "Ethernet", printer.tcpHost().c_str(), printer.tcpPort());
    ports.m_PortName = "ETHERNET_II";
    Summary tcp = measure(ports, prompter, log, runs);

    print("serial pty", pty, runs, 50);
    print("TCP", tcp, runs, 350);
    return pty.failed == 0 && tcp.failed == 0 ? 0 : 1;
}
