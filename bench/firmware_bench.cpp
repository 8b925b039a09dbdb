// firmware_bench: a whole firmware transfer against tavro-sim, timed.
//
//   firmware_bench serial [--area program] [--baud 115200]
//       over the simulator's pty, paced by the simulator to the line rate; reports the time
//       to the last byte and the final wait against the line time (10 bits a byte) plus the
//       specified final wait, and the tool's overhead in per cent.
//   firmware_bench tcp [--area lcd-font] [--rounds 5]
//       unpaced over loopback TCP; reports MB/s up to the last byte (before the final wait).
//
// The simulator is the tavro-sim next to this program (or $TAVRO_SIM_BIN).
#include "BenchSim.h"
#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/ConnectionRules.h"
#include "app/Prompter.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/TransferBlock.h"
#include "port/PrinterConnection.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

class SilentPrompter final : public Prompter {
public:
    PromptAnswer show(std::string_view text, PromptButtons, PromptIcon, std::string_view) override
    {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
        return PromptAnswer::Ok;
    }
};

// Notes when the last byte of the block was handed over.
class EdgeSink final : public ProgressSink {
public:
    explicit EdgeSink(std::uint64_t length) : m_length(length) {}
    void report(const ProgressReport& p) override
    {
        if (p.done == m_length && !lastByte)
            lastByte = SteadyClock::now();
    }
    std::optional<SteadyClock::time_point> lastByte;

private:
    std::uint64_t m_length;
};

std::string arg(int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || (std::strcmp(argv[1], "serial") != 0 && std::strcmp(argv[1], "tcp") != 0)) {
        std::fprintf(stderr, "usage: firmware_bench serial|tcp [--area NAME] [--baud N] [--rounds N]\n");
        return 2;
    }
    const bool serial = std::strcmp(argv[1], "serial") == 0;
    const auto area = firmwareAreaFromName(arg(argc, argv, "--area", serial ? "program" : "lcd-font"));
    if (!area)
        return 2;
    const int baud = std::atoi(arg(argc, argv, "--baud", "115200").c_str());
    const int rounds = serial ? 1 : std::max(1, std::atoi(arg(argc, argv, "--rounds", "5").c_str()));
    const ModelFamily family = kFamilyTavro46;
    const std::string binary = BenchSim::binary();

    std::vector<std::uint8_t> bytes(0x800000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 11));
    std::memcpy(&bytes[0x7FFFFC], "QZM2", 4);
    auto image = FirmwareImage::parse(std::move(bytes));
    const auto block = buildTransferBlock(*image, *area, family);
    const double L = static_cast<double>(block.size());

    BenchSim sim;
    std::vector<std::string> simArgs{"--family", std::to_string(familyNumber(family)), "--quiet", "--flash-busy-ms", "0"};
    if (serial) {
        simArgs.insert(simArgs.end(), {"--serial", "--pace"});
    } else {
        simArgs.insert(simArgs.end(), {"--tcp", "127.0.0.1:0"});
    }
    if (!sim.start(binary, simArgs)) {
        std::fprintf(stderr, "cannot start %s\n", binary.c_str());
        return 1;
    }
    ConnectionSettings settings;
    settings.modelFamily = family;
    if (serial) {
        settings.portName = sim.serialPort();
        settings.baudRate = baud;
        settings.byteSize = 8;
        settings.parity = 0;
        settings.stopBits = 0;
        settings.flowCtrl = 3;
    } else {
        std::string tcp = sim.env["TAVRO_SIM_TCP"];
        settings.portName = "ETHERNET_II";
        settings.host = tcp.substr(0, tcp.find(':'));
        settings.tcpPort = std::atoi(tcp.substr(tcp.find(':') + 1).c_str());
    }
    SilentPrompter prompter;
    CErrorLog log;
    auto connection = makeConnection(settings, ConnectionHost{SystemClock::instance(), prompter, log});
    if (!connection) {
        std::fprintf(stderr, "no connection for %s\n", settings.portName.c_str());
        return 1;
    }

    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        EdgeSink sink(block.size());
        FirmwareTransferOptions options;
        options.finalWait = serial; // the serial run measures the whole transfer as a user waits it
        FirmwareTransfer transfer(*connection, block, SystemClock::instance(), sink, options);
        const auto start = SteadyClock::now();
        auto outcome = transfer.run();
        const auto end = SteadyClock::now();
        if (!outcome.completed() || !sink.lastByte) {
            std::fprintf(stderr, "transfer failed: %s (%s)\n", outcome.message.c_str(), outcome.detail.c_str());
            return 1;
        }
        const double toLastByte = std::chrono::duration<double>(*sink.lastByte - start).count();
        const double total = std::chrono::duration<double>(end - start).count();
        if (serial) {
            const double line = L * 10.0 / baud;
            const double finalWait = 16.0 * finalWaitStepMs(static_cast<std::uint32_t>(L)) / 1000.0;
            const double overhead = (total - line - finalWait) / (line + finalWait) * 100.0;
            std::printf("serial %d baud, %s, %.0f bytes: last byte after %.3f s (line time %.3f s), "
                        "done after %.3f s (line time + final wait %.3f s): overhead %.2f %%\n",
                        baud, std::string(firmwareAreaName(*area)).c_str(), L, toLastByte, line, total,
                        line + finalWait, overhead);
        } else {
            const double rate = L / toLastByte / 1e6;
            best = std::max(best, rate);
            std::printf("tcp loopback, %s, %.0f bytes: last byte after %.4f s: %.1f MB/s\n",
                        std::string(firmwareAreaName(*area)).c_str(), L, toLastByte, rate);
        }
    }
    if (!serial)
        std::printf("best of %d: %.1f MB/s\n", rounds, best);
    return 0;
}
