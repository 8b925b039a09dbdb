// logo_upload_bench: how much time the NV upload engine adds to what the line and the
// printer's waits take. The time the upload takes is compared with the line time of every
// byte plus the fixed waits the upload must make (3500 ms erase, 10 ms after each 512-byte
// block, 10 ms between pictures). Two lines:
//   - modelled (default): a connection in this process that models a 115200-baud 8N1 line (a
//     write returns when its last byte has left, as a drained serial write does) and answers
//     the printer check at once;
//   - --pty: the serial connection to tavro-sim's pty, which reads no faster than the line
//     rate the tool set (a fresh simulator per run, its events checked for refusals).
//
//   logo_upload_bench [--baud N] [--small N] [--large N] [--pty] [--json]
#include "BenchBmp.h"
#include "BenchSim.h"
#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/ConnectionRules.h"
#include "app/Progress.h"
#include "app/Prompter.h"
#include "logo/NvUpload.h"
#include "port/PrinterConnection.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using SteadyClock = std::chrono::steady_clock;

class YesPrompter final : public Prompter {
public:
    PromptAnswer show(std::string_view, PromptButtons b, PromptIcon, std::string_view) override
    {
        return b == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }
};

class LineConnection final : public PrinterConnection {
public:
    explicit LineConnection(int baud) : m_baud(baud) {}
    PortKind kind() const override { return PortKind::Serial; }
    std::string describe() const override { return "modelled serial line"; }
    IoResult open() override
    {
        m_open = true;
        m_lineFree = SteadyClock::now();
        return IoResult::done();
    }
    bool isOpen() const override { return m_open; }
    IoResult write(std::span<const std::uint8_t> bytes, Ms) override
    {
        const auto start = std::max(SteadyClock::now(), m_lineFree);
        m_lineFree = start + lineTime(bytes.size());
        std::this_thread::sleep_until(m_lineFree);
        return IoResult::done(bytes.size());
    }
    IoResult readFor(std::span<std::uint8_t> buffer, Ms) override
    {
        if (!buffer.empty())
            buffer[0] = 0x20;
        return IoResult::done(buffer.empty() ? 0 : 1);
    }
    void close() override { m_open = false; }
    IoResult reopen(const ReopenPolicy&) override { return open(); }
    bool canAnswer() const override { return true; }

    std::chrono::nanoseconds lineTime(std::size_t bytes) const
    {
        return std::chrono::nanoseconds(std::int64_t(bytes) * 10 * 1000000000LL / m_baud);
    }

private:
    int m_baud;
    bool m_open = false;
    SteadyClock::time_point m_lineFree{};
};

// The system clock, adding up the waits the upload asks for.
class TimingClock final : public Clock {
public:
    std::chrono::steady_clock::time_point now() override { return SystemClock::instance().now(); }
    LocalTime localTime() override { return SystemClock::instance().localTime(); }
    void sleep(Ms delay) override
    {
        m_asked += delay;
        SystemClock::instance().sleep(delay);
    }
    double askedSeconds() const { return std::chrono::duration<double>(m_asked).count(); }

private:
    std::chrono::nanoseconds m_asked{0};
};

// Counts what goes to the printer over another connection, and the time spent in it.
class CountingConnection final : public PrinterConnection {
public:
    explicit CountingConnection(PrinterConnection& inner) : m_inner(inner) {}
    PortKind kind() const override { return m_inner.kind(); }
    std::string describe() const override { return m_inner.describe(); }
    IoResult open() override { return timed([&] { return m_inner.open(); }); }
    bool isOpen() const override { return m_inner.isOpen(); }
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override
    {
        IoResult r = timed([&] { return m_inner.write(bytes, deadline); });
        m_bytes += r.count();
        return r;
    }
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override
    {
        return timed([&] { return m_inner.readFor(buffer, wait); });
    }
    void close() override
    {
        timed([&] {
            m_inner.close();
            return IoResult::done();
        });
    }
    IoResult reopen(const ReopenPolicy& policy) override { return timed([&] { return m_inner.reopen(policy); }); }
    bool canAnswer() const override { return m_inner.canAnswer(); }
    std::size_t bytes() const { return m_bytes; }
    double ioSeconds() const { return std::chrono::duration<double>(m_io).count(); }

private:
    template <class F>
    IoResult timed(F&& f)
    {
        const auto t0 = SteadyClock::now();
        IoResult r = f();
        m_io += SteadyClock::now() - t0;
        return r;
    }
    PrinterConnection& m_inner;
    std::size_t m_bytes = 0;
    SteadyClock::duration m_io{0};
};

// Lines of the simulator's event log that report a refusal or an error.
int refusalsIn(const std::string& stateDir)
{
    std::ifstream in(stateDir + "/events.jsonl");
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        const auto event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_discarded() || !event.is_object())
            continue;
        bool refused = event.contains("error");
        for (const auto& value : event)
            refused |= value.is_string() && value.get_ref<const std::string&>().rfind("refused", 0) == 0;
        n += refused;
    }
    return n;
}


struct Run {
    const char* name;
    int count, w, h;
};

} // namespace

int main(int argc, char** argv)
{
    int baud = 115200, small = 255, large = 5;
    bool json = false, pty = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--baud") && i + 1 < argc)
            baud = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--small") && i + 1 < argc)
            small = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--large") && i + 1 < argc)
            large = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--json"))
            json = true;
        else if (!std::strcmp(argv[i], "--pty"))
            pty = true;
        else {
            std::fprintf(stderr, "usage: logo_upload_bench [--baud N] [--small N] [--large N] [--pty] [--json]\n");
            return 2;
        }
    }
    const auto dir = std::filesystem::temp_directory_path() / ("tavro-upload-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::vector<Run> runs = {{"small 64x64", small, 64, 64}, {"large 576x1000", large, 576, 1000}};
    int status = 0;
    for (const Run& run : runs) {
        if (run.count < 1)
            continue;
        const auto file = dir / (std::to_string(run.w) + "x" + std::to_string(run.h) + ".bmp");
        writeBmp(file, run.w, run.h);
        std::vector<NvUpload::Item> items(std::size_t(run.count), {file.string(), file.filename().string(), false});

        YesPrompter prompter;
        CErrorLog log;
        NullProgress progress;
        LineConnection modelled(baud);
        BenchSim sim;
        std::unique_ptr<PrinterConnection> serial;
        if (pty) {
            if (!sim.start(BenchSim::binary(), {"--family", "6", "--serial", "--pace", "--quiet", "--no-paper"})) {
                std::fprintf(stderr, "cannot start %s\n", BenchSim::binary().c_str());
                return 1;
            }
            ConnectionSettings settings;
            settings.modelFamily = kFamilyTavro46;
            settings.portName = sim.serialPort();
            settings.baudRate = baud;
            settings.byteSize = 8;
            settings.parity = 0;
            settings.stopBits = 0;
            settings.flowCtrl = 3;
            serial = makeConnection(settings, ConnectionHost{SystemClock::instance(), prompter, log});
            if (!serial) {
                std::fprintf(stderr, "no connection for %s\n", settings.portName.c_str());
                return 1;
            }
        }
        CountingConnection line(pty ? *serial : static_cast<PrinterConnection&>(modelled));
        TimingClock clock;
        LogoEngineDeps deps{line, clock, prompter, log, progress};
        NvUpload upload(deps, items, LogoOptions{}, kFamilyTavro25, 0, nullptr, 0);
        const auto t0 = SteadyClock::now();
        StepResult r = runStepJob(upload, clock);
        const auto elapsed = std::chrono::duration<double>(SteadyClock::now() - t0).count();
        if (r.kind != StepResult::Kind::Finished) {
            std::fprintf(stderr, "upload failed: %s\n", r.message.c_str());
            status = 1;
            continue;
        }
        if (pty) {
            if (int refused = refusalsIn(sim.env["TAVRO_SIM_STATE"])) {
                std::fprintf(stderr, "the printer refused or reported %d things (see its events.jsonl)\n", refused);
                status = 1;
            }
        }
        const std::size_t rasterBytes = std::size_t(upload.bytesSent());
        const std::size_t blocksPerPicture = (rasterBytes / std::size_t(run.count) + 511) / 512;
        const double waits = 3.5 + 0.010 * double(blocksPerPicture * std::size_t(run.count)) + 0.010 * run.count;
        const double lineSeconds = std::chrono::duration<double>(modelled.lineTime(line.bytes())).count();
        const double expected = lineSeconds + waits;
        const double overhead = (elapsed - expected) / expected * 100.0;
        // What is neither the connection nor a wait the upload asked for: conversion, framing,
        // progress, and the oversleep of every wait.
        const double own = elapsed - line.ioSeconds() - clock.askedSeconds();
        if (json)
            std::printf("{\"line\":\"%s\",\"run\":\"%s\",\"pictures\":%d,\"bytes\":%zu,\"lineSeconds\":%.3f,\"waitSeconds\":%.3f,"
                        "\"elapsedSeconds\":%.3f,\"overheadPercent\":%.3f,\"connectionSeconds\":%.3f,"
                        "\"askedWaitSeconds\":%.3f,\"ownSeconds\":%.3f}\n",
                        pty ? "pty" : "modelled", run.name, run.count, line.bytes(), lineSeconds, waits, elapsed,
                        overhead, line.ioSeconds(), clock.askedSeconds(), own);
        else
            std::printf("%s %-16s %3d pictures %8zu bytes: line %.3f s + waits %.3f s = %.3f s; took %.3f s; "
                        "overhead %.2f %%\n    in the connection %.3f s, waits asked %.3f s, the tool's own %.3f s "
                        "(%.2f %%)\n",
                        pty ? "pty" : "modelled", run.name, run.count, line.bytes(), lineSeconds, waits, expected,
                        elapsed, overhead, line.ioSeconds(), clock.askedSeconds(), own, own / elapsed * 100.0);
    }
    std::filesystem::remove_all(dir);
    return status;
}
