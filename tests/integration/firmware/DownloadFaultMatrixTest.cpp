// Every way a download can be cut off, at every moment, over both download protocols, against
// the virtual printer: a printer that hangs up, one that stops reading, a technician's Ctrl-C
// (the session's cancel token) and a kill -9 of tavroctl, while the area is being erased, in
// the middle, in its last block and in the final wait, for a Program Area block over TCP and
// a TAVRO15 packet download over a serial pty.
//
// Each cell checks what a technician relies on: the download is never reported complete
// unless the printer took the whole area; an early end always says which area is incomplete
// and what to do (a kill leaves a note that the next start shows); the printer restarted
// from its saved state answers no setup request while the area is incomplete; and a second
// download over the same connection brings it back (it answers `setup get`) and removes the
// note.
#include "FirmwareImages.h"
#include "SimProcess.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

enum class Path { ProgramOverTcp, Tavro15OverSerial };
enum class Fault { HangUp, Stall, Cancel, Kill };
enum class Moment { Erase, Middle, LastBlock, FinalWait };
enum class Told { No, Yes, Either };

struct Cell {
    Path path;
    Fault fault;
    Moment moment;
};

// A TAVRO36/38's Program Area block over TCP, and the TAVRO15's Program Area in packets.
constexpr long kBlock = 0xA0000;
constexpr long kPackets = 10 + 256 * 522;

// How many bytes the printer takes before the fault.
long faultAfter(const Cell& c)
{
    const bool tcp = c.path == Path::ProgramOverTcp;
    switch (c.moment) {
    case Moment::Erase: return 10; // the block's header or the erase packet
    case Moment::Middle: return tcp ? kBlock / 2 : 10 + 128 * 522;
    // Inside the last stream window (what the socket buffers cannot hide), inside the last packet.
    case Moment::LastBlock: return tcp ? kBlock - 49152 : 10 + 255 * 522 + 100;
    case Moment::FinalWait: break;
    }
    // A held tool waits for the last answer with one byte missing; the others lose nothing.
    if (!tcp && (c.fault == Fault::Cancel || c.fault == Fault::Kill))
        return kPackets - 1;
    return tcp ? kBlock : kPackets;
}

struct Expect {
    Told told;          // the tool said the area is complete
    bool printerSilent; // the printer lacks part of the area
    // The hang-up may come after the printer's last answer: the tool then says complete, and
    // its printer check over the line that hung up says the printer did not answer.
    bool lineMayBeGone = false;
};

Expect expectFor(const Cell& c)
{
    // A reset can come after the kernel acknowledged bytes the printer then threw away: the
    // tool may say the block left whole, and then its printer check finds the printer silent.
    if (c.moment != Moment::FinalWait && c.path == Path::ProgramOverTcp && c.fault == Fault::HangUp)
        return {Told::Either, true};
    if (c.moment != Moment::FinalWait)
        return {Told::No, true};
    if (c.path == Path::ProgramOverTcp) {
        // Every byte arrived: a reset may still cut the tool's drain, which then says so.
        if (c.fault == Fault::HangUp)
            return {Told::Either, false};
        if (c.fault == Fault::Stall)
            return {Told::Yes, false};
        return {Told::No, false}; // stopped while the printer writes its flash
    }
    if (c.fault == Fault::HangUp)
        return {Told::Either, false, true}; // the printer has it all; its last answer may be lost
    if (c.fault == Fault::Stall)
        return {Told::Yes, false}; // the answer came; the printer reads again after its stall
    return {Told::No, true};
}

std::string nameOf(const Cell& c)
{
    static const char* paths[] = {"ProgramOverTcp", "Tavro15OverSerial"};
    static const char* faults[] = {"HangUp", "Stall", "Cancel", "Kill"};
    static const char* moments[] = {"Erase", "Middle", "LastBlock", "FinalWait"};
    return std::string(paths[int(c.path)]) + "_" + faults[int(c.fault)] + "_" + moments[int(c.moment)];
}

std::vector<Cell> allCells()
{
    std::vector<Cell> cells;
    for (Path p : {Path::ProgramOverTcp, Path::Tavro15OverSerial})
        for (Fault f : {Fault::HangUp, Fault::Stall, Fault::Cancel, Fault::Kill})
            for (Moment m : {Moment::Erase, Moment::Middle, Moment::LastBlock, Moment::FinalWait})
                cells.push_back({p, f, m});
    return cells;
}

bool haveBinaries()
{
    return ::access(TAVRO_BIN_DIR "/tavroctl", X_OK) == 0 && ::access(TAVRO_BIN_DIR "/tavro-sim", X_OK) == 0;
}

std::vector<fs::path> notesIn(const fs::path& folder)
{
    std::vector<fs::path> notes;
    for (auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind("firmware-download-", 0) == 0)
            notes.push_back(e.path());
    return notes;
}

class DownloadFaultMatrix : public ::testing::TestWithParam<Cell> {
protected:
    void SetUp() override
    {
        if (!haveBinaries())
            GTEST_SKIP() << "tavroctl or tavro-sim is not built";
        tcp = GetParam().path == Path::ProgramOverTcp;
        if (tcp) {
            writeTestImage(dir / "fw.T25", makeTestImage());
        } else {
            std::vector<std::uint8_t> flat(0x1F0000);
            for (std::size_t i = 0; i < flat.size(); ++i)
                flat[i] = static_cast<std::uint8_t>(i * 7 + (i >> 11));
            writeTestImage(dir / "fw.bin", flat);
        }
        writeFileBytes(dir / "tavroset.INI", "");
    }

    // The printer, with the state folder every run of it shares, on the TCP port the first
    // run got (so that both runs are the same connection to the tool).
    std::unique_ptr<SimProcess> startPrinter(std::vector<std::string> faults)
    {
        std::vector<std::string> args{"--family", tcp ? "5" : "2", "--flash-busy-ms", "100", "--restart-ms", "200",
                                      "--quiet", "--state", (dir / "state").string()};
        if (tcp)
            args.insert(args.end(), {"--tcp", "127.0.0.1:" + std::to_string(port)});
        else
            args.push_back("--serial");
        args.insert(args.end(), faults.begin(), faults.end());
        auto sim = std::make_unique<SimProcess>(args);
        if (sim->ok() && tcp)
            port = sim->tcpPort();
        if (sim->ok() && !tcp) {
            // One port name for both runs of the printer, as a cable that stays plugged in.
            std::error_code ec;
            fs::remove(dir / "ttyFW0", ec);
            fs::create_symlink(sim->serialPort(), dir / "ttyFW0");
        }
        return sim;
    }
    std::string connection() const
    {
        const std::string profile = "--profile " + shellQuote((dir / "tavroset.INI").string()) + " ";
        if (tcp)
            return profile + "--device 'TAVRO36/38 E-II' --port tcp://127.0.0.1:" + std::to_string(port);
        return profile + "--device 'TAVRO15 S' --port " + shellQuote((dir / "ttyFW0").string()) + " --baud 38400 --flow none";
    }
    // more: global options; then the download's own (TCP: a short final wait unless given).
    std::string download(const std::string& more = "", const std::string& own = "") const
    {
        return connection() + more + " firmware download " + (tcp ? "fw.T25" : "fw.bin") +
               " --area program --ready-timeout 5" + (tcp ? "" : " --erase-pause 20") +
               (own.empty() && tcp ? " --flash-wait 100" : own);
    }
    CliRun tavroctl(const std::string& args) { return runTavroctl(dir.path(), "", args); }

    TempDir dir;
    bool tcp = true;
    int port = 0;
};

TEST_P(DownloadFaultMatrix, NeverCompleteUnlessTheAreaIsWholeAndASecondDownloadBringsThePrinterBack)
{
    const Cell cell = GetParam();
    const Expect expect = expectFor(cell);
    const std::string after = std::to_string(faultAfter(cell));
    const char* done = tcp ? "Update Complete." : "COMPLETED";
    const bool held = cell.fault == Fault::Cancel || cell.fault == Fault::Kill;

    std::vector<std::string> faults;
    if (cell.fault == Fault::HangUp)
        faults = {"--hangup-after", after};
    else if (cell.fault == Fault::Stall)
        // Longer than the tool's bounded tries over TCP (a printer back in time takes the
        // rest, rightly complete); over serial it reads again during the printer check.
        faults = {"--stall-after", after, "--stall-ms", tcp ? "60000" : "3000"};
    else if (!(tcp && cell.moment == Moment::FinalWait))
        faults = {"--stall-after", after, "--stall-ms", "60000"}; // holds the tool at the moment
    auto printer = startPrinter(faults);
    ASSERT_TRUE(printer->ok()) << printer->error();

    CliRun first;
    if (held) {
        // The tool runs until the printer holds it at the moment (or, over TCP in the final
        // wait, until the printer took the whole block); then Ctrl-C or kill -9.
        BackgroundTavroctl run(dir.path(), "",
                               download("", tcp ? (cell.moment == Moment::FinalWait ? " --flash-wait 20000" : "")
                                                : " --answer-timeout 30000"));
        ASSERT_TRUE(run.started());
        const std::string moment = tcp && cell.moment == Moment::FinalWait ? "\"verdict\":\"ok\"" : "\"fault\":\"stall\"";
        ASSERT_TRUE(printer->waitForEvent(moment, 20s)) << run.errorText();
        if (tcp && cell.moment == Moment::FinalWait)
            std::this_thread::sleep_for(200ms); // into the final wait
        ASSERT_TRUE(run.signal(cell.fault == Fault::Cancel ? SIGINT : SIGKILL));
        first = run.wait(20s);
    } else {
        first = tavroctl(download(cell.fault == Fault::Stall ? " --stall 0.5" : "",
                                  tcp ? "" : " --answer-timeout 500"));
    }
    SCOPED_TRACE("first run: status " + std::to_string(first.status) + "\nout: " + first.out + "\nerr: " + first.err);

    const bool told = first.out.find(done) != std::string::npos;
    if (expect.told != Told::Either)
        EXPECT_EQ(told, expect.told == Told::Yes);
    if (told && expect.printerSilent) {
        EXPECT_NE(first.status, 0);
        EXPECT_NE(first.err.find("The printer did not answer within 5 s."), std::string::npos);
    } else if (told && expect.lineMayBeGone && first.status != 0) {
        EXPECT_NE(first.err.find("The printer did not answer within 5 s."), std::string::npos);
    } else if (told) {
        EXPECT_EQ(first.status, 0);
    } else if (cell.fault == Fault::Kill) {
        // Nothing could be said: the note says it at the next start.
        ASSERT_EQ(notesIn(dir.path()).size(), 1u);
        CliRun next = tavroctl("--profile " + shellQuote((dir / "tavroset.INI").string()) + " firmware info " +
                               (tcp ? "fw.T25" : "fw.bin --family 2"));
        EXPECT_NE(next.err.find("did not finish"), std::string::npos) << next.err;
        EXPECT_NE(next.err.find("is incomplete"), std::string::npos) << next.err;
    } else {
        EXPECT_NE(first.status, 0);
        EXPECT_NE(first.err.find("will not print until the"), std::string::npos);
        EXPECT_NE(first.err.find("download the Program"), std::string::npos);
        EXPECT_NE(first.err.find("over the same connection"), std::string::npos);
        EXPECT_EQ(notesIn(dir.path()).size(), 1u) << "the printer stays flagged until it is downloaded again";
    }
    printer->stop();

    // The printer comes back from its saved state; it answers nothing while the area is
    // incomplete, takes the same download, and then answers again.
    auto again = startPrinter({});
    ASSERT_TRUE(again->ok()) << again->error();
    if (expect.printerSilent) {
        CliRun silent = tavroctl(connection() + " setup get --timeout 0.3");
        EXPECT_NE(silent.status, 0) << silent.out;
        EXPECT_TRUE(again->waitForEvent("\"ignored\"", 5s));
    }
    CliRun second = tavroctl(download());
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_NE(second.out.find(done), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("The printer answers again."), std::string::npos) << second.out << second.err;
    CliRun answers = tavroctl(connection() + " setup get --timeout 3");
    EXPECT_EQ(answers.status, 0) << answers.err;
    EXPECT_TRUE(notesIn(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(AllCells, DownloadFaultMatrix, ::testing::ValuesIn(allCells()),
                         [](const ::testing::TestParamInfo<Cell>& info) { return nameOf(info.param); });

} // namespace
