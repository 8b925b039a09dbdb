// Ctrl-C to exit: `tavroctl logo upload` of five 576 x 1000 pictures to a tavro-sim that stops
// reading after 12000 bytes for 30 s, interrupted with SIGINT once the upload is blocked (its
// JSON progress has stopped for a second). Prints, per connection, the median and the slowest
// time from the signal to the process's exit, and the last line it printed.
//
//   interrupt_bench [--tavroctl PATH] [--runs N] [serial] [usb] [parallel] [tcp]
#include "SimProcess.h"
#include "TempDir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono;

// A 24-bit BMP of stripes, 576 x 1000 dots: the converter's largest picture (72000 raster bytes).
void writePicture(const std::filesystem::path& file)
{
    const int w = 576, h = 1000, row = (w * 3 + 3) / 4 * 4;
    std::string bmp(54 + std::size_t(row) * h, '\0');
    auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            bmp[at + std::size_t(i)] = char((v >> (8 * i)) & 0xFF);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put(2, std::uint32_t(bmp.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, w, 4);
    put(22, h, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((x / 4 + y / 3) % 2)
                for (int c = 0; c < 3; ++c)
                    bmp[54 + std::size_t(y) * row + std::size_t(x) * 3 + std::size_t(c)] = char(0xFF);
    writeFileBytes(file, bmp);
}

struct Run {
    double ms = -1; // signal to exit; -1 when it did not exit within 30 s
    std::string last;
};

Run interruptOnce(const std::string& tavroctl, const std::string& transport)
{
    std::vector<std::string> simArgs = {"--family", "6", "--quiet", "--stall-after", "12000", "--stall-ms", "30000"};
    std::vector<std::string> args = {tavroctl};
    if (transport == "serial")
        simArgs.push_back("--serial");
    else if (transport == "usb")
        simArgs.push_back("--usb");
    else if (transport == "parallel")
        simArgs.push_back("--parallel");
    else
        simArgs.insert(simArgs.end(), {"--tcp", "127.0.0.1:0"});
    SimProcess sim(simArgs);
    if (!sim.ok()) {
        std::fprintf(stderr, "tavro-sim: %s\n", sim.error().c_str());
        return {};
    }
    if (transport == "serial")
        args.insert(args.end(), {"--device", "TAVRO46/48 S", "--port", sim.serialPort()});
    else if (transport == "usb")
        args.insert(args.end(), {"--device", "TAVRO46/48 U-II", "--port", "usb"});
    else if (transport == "parallel")
        args.insert(args.end(), {"--device", "TAVRO46/48 P", "--port", sim.parallelPort()});
    else
        args.insert(args.end(), {"--device", "TAVRO46/48 E-II", "--port",
                                 "tcp://" + sim.tcpHost() + ":" + std::to_string(sim.tcpPort())});
    TempDir dir;
    writePicture(dir / "big.bmp");
    args.insert(args.end(), {"--json", "--yes", "--profile", (dir / "tavroset.INI").string(), "logo", "upload"});
    for (int i = 0; i < 5; ++i)
        args.push_back((dir / "big.bmp").string());
    const auto errFile = dir / "stderr.txt";

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (transport == "usb") {
            ::setenv("TAVRO_SYSFS_ROOT", sim.env("TAVRO_SYSFS_ROOT").c_str(), 1);
            ::setenv("TAVRO_DEV_ROOT", sim.env("TAVRO_DEV_ROOT").c_str(), 1);
        }
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(err, 2);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Run run;
    if (pid < 0)
        return run;
    // Blocked: the printer stalled and no progress line came for a second.
    sim.waitForEvent("\"stall\"", milliseconds(30000));
    std::string seen;
    for (int quiet = 0; quiet < 10;) {
        std::this_thread::sleep_for(milliseconds(100));
        const std::string now = readFileBytes(errFile);
        quiet = now == seen ? quiet + 1 : 0;
        seen = now;
    }
    const auto signalled = steady_clock::now();
    ::kill(pid, SIGINT);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (steady_clock::now() - signalled > seconds(30)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    if (steady_clock::now() - signalled <= seconds(30))
        run.ms = duration<double, std::milli>(steady_clock::now() - signalled).count();
    std::string text = readFileBytes(errFile);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    run.last = text.substr(text.rfind('\n') + 1);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    std::string tavroctl = std::string(TAVRO_BIN_DIR) + "/tavroctl";
    int runs = 3;
    std::vector<std::string> transports;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--tavroctl") && i + 1 < argc)
            tavroctl = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            transports.push_back(argv[i]);
    }
    if (transports.empty())
        transports = {"serial", "usb", "parallel", "tcp"};
    std::signal(SIGPIPE, SIG_IGN);
    for (const auto& transport : transports) {
        std::vector<double> times;
        std::string last;
        for (int r = 0; r < runs; ++r) {
            Run run = interruptOnce(tavroctl, transport);
            times.push_back(run.ms < 0 ? 30000.0 : run.ms);
            last = run.last;
        }
        std::sort(times.begin(), times.end());
        std::printf("%-6s  SIGINT to exit: median %7.0f ms, slowest %7.0f ms (%d runs)\n        %s\n",
                    transport.c_str(), times[times.size() / 2], times.back(), runs, last.c_str());
    }
    return 0;
}
