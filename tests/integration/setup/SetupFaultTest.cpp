// `tavroctl setup get` and `setup set` against a virtual printer that fails them, over the
// serial pty, the USB printer node and TCP: it hangs up in the middle of the requests or of
// the write, hangs up while the answers are on their way, stops reading, never answers, or
// is killed outright. Each run must end in seconds with a non-zero exit, a message that
// says what happened, and no claim that anything was done.
#include "SimProcess.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include "setup/SetupFrames.h"
#include "setup/SetupOptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

enum class Link { Serial, Usb, Tcp };
enum class Command { Get, Set };
enum class Fault { HangUpInWrite, HangUpInRead, Stall, Silence, Kill };

// What `set` writes: margin and custom code given, so that no read comes before the write.
const char* kSetArgs = "setup set margin=300 custom_code=0 --timeout 2";
const char* kGetArgs = "setup get --timeout 2";

// Bytes of the write: enter user setting mode, the Function 5 frame, end user setting mode.
std::size_t enterAndFrameHalf()
{
    SetupOptions form;
    form.margin = 300;
    form.customCode = "0";
    auto frame = buildSetValueFrame(form, kFamilyTavro46);
    return enterUserSettingFrame().size() + (frame.ok() ? frame->bytes.size() / 2 : 4);
}

std::size_t wholeWrite()
{
    SetupOptions form;
    form.margin = 300;
    form.customCode = "0";
    auto frame = buildSetValueFrame(form, kFamilyTavro46);
    return enterUserSettingFrame().size() + (frame.ok() ? frame->bytes.size() : 0) + endUserSettingFrame().size();
}

// The Function 6 requests of a read: 18 over serial and USB, 17 over the network.
std::size_t readRequests(Link link) { return (link == Link::Tcp ? 17 : 18) * transmitSettingFrame(1).size(); }

std::string allSettings()
{
    std::string list;
    for (auto n : readRequestList(PortKind::Serial))
        list += (list.empty() ? "" : ",") + std::to_string(n);
    return list;
}

using Case = std::tuple<Link, Command, Fault>;

class SetupFault : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        if (::access(SimProcess::defaultBinary().c_str(), X_OK) != 0)
            GTEST_SKIP() << "tavro-sim is not built (" << SimProcess::defaultBinary() << ")";
    }

    Link link() const { return std::get<0>(GetParam()); }
    Command command() const { return std::get<1>(GetParam()); }
    Fault fault() const { return std::get<2>(GetParam()); }

    // The simulator's fault switches for this case.
    std::vector<std::string> faultArgs() const
    {
        auto n = [](std::size_t v) { return std::to_string(v); };
        const bool set = command() == Command::Set;
        switch (fault()) {
        case Fault::HangUpInWrite:
            // get: in the middle of the requests; set: in the middle of the Function 5 frame.
            return {"--hangup-after", set ? n(enterAndFrameHalf()) : n(readRequests(link()) / 2)};
        case Fault::HangUpInRead: {
            // Every request of the read taken, the answers held back, then the line goes. A
            // set's read-back is on the same line over serial; the USB printer restarted and
            // the network read connects afresh.
            std::size_t before = set && link() == Link::Serial ? wholeWrite() : 0;
            return {"--answer-delay", "800", "--hangup-after", n(before + readRequests(link()))};
        }
        case Fault::Stall:
            return {"--stall-after", set ? n(enterAndFrameHalf()) : "20", "--stall-ms", "60000"};
        case Fault::Silence:
            return {"--no-answer", allSettings()};
        case Fault::Kill:
            return {"--answer-delay", "3000"};
        }
        return {};
    }

    // What stderr must say.
    std::string expected() const
    {
        switch (fault()) {
        case Fault::HangUpInWrite:
            // A USB printer whose node goes away after the write looks like its restart.
            return link() == Link::Usb && command() == Command::Set
                       ? "the printer closed the connection|did not come back after the write"
                       : "the printer closed the connection";
        case Fault::HangUpInRead:
        case Fault::Kill:
            return "the printer closed the connection";
        case Fault::Stall:
            return command() == Command::Get ? "no answer from the printer for: " : "not confirmed|did not stick";
        case Fault::Silence:
            return command() == Command::Get ? "no answer from the printer for: " : "not confirmed: no answer";
        }
        return "";
    }

    TempDir tmp;
};

TEST_P(SetupFault, EndsInSecondsWithAClearErrorAndNoFalseSuccess)
{
    std::vector<std::string> args = {"--family", "6", "--quiet", "--restart-ms", "500"};
    switch (link()) {
    case Link::Serial: args.push_back("--serial"); break;
    case Link::Usb: args.push_back("--usb"); break;
    case Link::Tcp: args.insert(args.end(), {"--tcp", "127.0.0.1:0"}); break;
    }
    for (auto& a : faultArgs())
        args.push_back(a);
    SimProcess sim(args);
    ASSERT_TRUE(sim.ok()) << sim.error();

    std::string env, conn;
    switch (link()) {
    case Link::Serial:
        conn = "--device 'TAVRO46/48 S' --port " + shellQuote(sim.serialPort());
        break;
    case Link::Usb:
        env = "TAVRO_SYSFS_ROOT=" + shellQuote(sim.env("TAVRO_SYSFS_ROOT")) +
              " TAVRO_DEV_ROOT=" + shellQuote(sim.env("TAVRO_DEV_ROOT"));
        conn = "--device 'TAVRO46/48 U-II' --port usb";
        break;
    case Link::Tcp:
        conn = "--device 'TAVRO46/48 E-II' --port tcp://" + sim.tcpHost() + ":" + std::to_string(sim.tcpPort());
        break;
    }
    const std::string line = conn + " " + (command() == Command::Get ? kGetArgs : kSetArgs);

    auto start = std::chrono::steady_clock::now();
    CliRun run;
    if (fault() == Fault::Kill) {
        std::thread tool([&] { run = runTavroctl(tmp.path(), env, line); });
        // The printer dies while the tool waits for the answers of a read.
        bool reading = sim.waitForEvent("\"fn\":6", 10s);
        if (reading)
            ::kill(sim.pid(), SIGKILL);
        tool.join();
        ASSERT_TRUE(reading) << "the tool never asked for a setting";
    } else {
        run = runTavroctl(tmp.path(), env, line);
    }
    auto took = std::chrono::steady_clock::now() - start;
    if (std::getenv("SETUP_FAULT_SHOW"))
        std::fprintf(stderr, "--- status %d, %lld ms\n%s%s", run.status,
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
                     run.out.c_str(), run.err.c_str());

    EXPECT_NE(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(expected()))) << "expected /" << expected() << "/ in:\n"
                                                                    << run.err;
    EXPECT_LT(took, 15s) << "seconds, not minutes";
    // Nothing confirmed that was not.
    EXPECT_EQ(run.out.find("verified"), std::string::npos) << run.out;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    static const char* links[] = {"Serial", "Usb", "Tcp"};
    static const char* commands[] = {"Get", "Set"};
    static const char* faults[] = {"HangUpInWrite", "HangUpInRead", "Stall", "Silence", "Kill"};
    return std::string(links[static_cast<int>(std::get<0>(info.param))]) +
           commands[static_cast<int>(std::get<1>(info.param))] + faults[static_cast<int>(std::get<2>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Matrix, SetupFault,
                         ::testing::Combine(::testing::Values(Link::Serial, Link::Usb, Link::Tcp),
                                            ::testing::Values(Command::Get, Command::Set),
                                            ::testing::Values(Fault::HangUpInWrite, Fault::HangUpInRead, Fault::Stall,
                                                              Fault::Silence, Fault::Kill)),
                         caseName);

} // namespace
