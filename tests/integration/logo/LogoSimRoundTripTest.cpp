// The upload, print, settings and receipt engines with the virtual printer on the other end:
// every byte the engine writes is fed to tavro-sim's interpreter at the time the test clock
// shows, so the printer judges the waits, stores the pictures and prints the receipts.
#include "LogoEngineSupport.h"
#include "app/Profile.h"
#include "logo/LogoPicture.h"
#include "logo/LogoPrint.h"
#include "logo/NvUpload.h"
#include "sim/CommandInterpreter.h"
#include "sim/PaperRoll.h"

#include <gtest/gtest.h>

namespace {

// The printer end: interpreter, state and paper, with the events kept.
class SimPrinter final : public InterpreterSink {
public:
    SimPrinter() : roll(state, "", [this](SimEvent e) { receipts.push_back(std::move(e)); }), interp(state, *this)
    {
        interp.setNvEraseMs(3000);
    }
    void reply(const std::vector<uint8_t>& b) override { answers.insert(answers.end(), b.begin(), b.end()); }
    void event(SimEvent e) override { events.push_back(std::move(e)); }
    void restart(const std::string&) override { ++restarts; }
    void printedText(const std::vector<uint8_t>& t, int j) override { roll.text(t, j); }
    void printedPicture(int n, int m) override { roll.picture(n, m); }
    void cut() override { roll.cut(); }

    std::vector<SimEvent> named(const std::string& cmd) const
    {
        std::vector<SimEvent> out;
        for (const auto& e : events)
            if (e.cmd() == cmd)
                out.push_back(e);
        return out;
    }

    PrinterState state;
    std::vector<SimEvent> events;
    std::vector<SimEvent> receipts;
    std::vector<uint8_t> answers;
    int restarts = 0;
    PaperRoll roll;
    CommandInterpreter interp;
};

// A connection whose writes reach the printer at the clock's time; the printer's answers
// come back through readFor.
class SimConnection final : public PrinterConnection {
public:
    SimConnection(PortKind kind, TestClock& clock, SimPrinter& printer) : m_kind(kind), m_clock(clock), m_printer(printer)
    {
    }
    PortKind kind() const override { return m_kind; }
    std::string describe() const override { return "virtual printer"; }
    IoResult open() override
    {
        m_open = true;
        return IoResult::done();
    }
    bool isOpen() const override { return m_open; }
    IoResult write(std::span<const std::uint8_t> data, Ms) override
    {
        if (!m_open)
            return IoResult::failed("not open", 9);
        m_printer.interp.setNowMs(
            std::chrono::duration_cast<std::chrono::milliseconds>(m_clock.now().time_since_epoch()).count());
        m_printer.interp.feed(data.data(), data.size());
        return IoResult::done(data.size());
    }
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override
    {
        m_clock.advance(std::min(wait, Ms{5}));
        std::size_t n = std::min(buffer.size(), m_printer.answers.size());
        std::copy_n(m_printer.answers.begin(), n, buffer.begin());
        m_printer.answers.erase(m_printer.answers.begin(), m_printer.answers.begin() + std::ptrdiff_t(n));
        return IoResult::done(n);
    }
    void close() override { m_open = false; }
    IoResult reopen(const ReopenPolicy& policy) override
    {
        close();
        m_clock.sleep(policy.firstWait);
        return open();
    }
    bool canAnswer() const override { return m_kind != PortKind::File; }

private:
    PortKind m_kind;
    TestClock& m_clock;
    SimPrinter& m_printer;
    bool m_open = false;
};

struct Rig {
    explicit Rig(PortKind kind) : connection(kind, host.clock, printer) {}
    LogoEngineDeps deps() { return {connection, host.clock, host.prompter, host.log, host.progress}; }
    LogoEngineHost host{PortKind::File};
    SimPrinter printer;
    SimConnection connection;
};

std::string kindName(PortKind k)
{
    switch (k) {
    case PortKind::Serial: return "serial";
    case PortKind::Parallel: return "parallel";
    case PortKind::Usb: return "usb";
    case PortKind::Ethernet: return "tcp";
    default: return "file";
    }
}

} // namespace

class LogoSimRoundTrip : public testing::TestWithParam<PortKind> {};

TEST_P(LogoSimRoundTrip, StoredPicturesEqualTheRastersAndReceiptsCarryTheLogos)
{
    Rig rig(GetParam());
    LogoOptions options;
    const std::vector<std::string> files = {rig.host.picture("top.bmp", 100, 50), rig.host.picture("bottom.bmp", 40, 24),
                                            rig.host.picture("wide.bmp", 576, 64)};
    options.autoCenter[1] = true;
    std::vector<NvUpload::Item> items;
    for (std::size_t i = 0; i < files.size(); ++i)
        items.push_back({files[i], std::filesystem::path(files[i]).filename().string(), options.autoCenter[i]});
    Profile profile(rig.host.dir / "tavroset.INI");
    NvUpload upload(rig.deps(), items, options, kFamilyTavro25, 0, &profile, 0);
    StepResult r = runStepJob(upload, rig.host.clock);
    ASSERT_EQ(r.kind, StepResult::Kind::Finished) << r.message;

    const auto defines = rig.printer.named("nv-define");
    ASSERT_EQ(defines.size(), 1u) << defines.back().toJson();
    EXPECT_EQ(defines[0].field("verdict"), "\"stored\"");
    ASSERT_EQ(rig.printer.state.pictures.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto expected = rasterizeLogoFile(files[i], options, options.autoCenter[i]);
        ASSERT_TRUE(expected.ok());
        const NvPicture& got = rig.printer.state.pictures[i];
        EXPECT_EQ(got.data, expected->raster) << "picture " << i + 1;
        EXPECT_EQ(uint32_t(got.widthDots()), expected->widthDots);
        EXPECT_EQ(uint32_t(got.heightDots()), expected->heightDots);
    }

    // Top logo 1 centred, bottom logo 2 centred, then the sample receipt.
    logo_frames::LogoSettingsValues v;
    v.topEnable = true;
    v.topNumber = 1;
    v.bottomEnable = true;
    v.bottomNumber = 2;
    ASSERT_TRUE(sendLogoSettings(rig.deps(), v).ok);
    EXPECT_EQ(rig.printer.state.logo.topEnable, 1);
    EXPECT_EQ(rig.printer.restarts, 1);
    ASSERT_TRUE(sendSampleReceipt(rig.deps()).ok);
    ASSERT_EQ(rig.printer.receipts.size(), 1u);
    const std::string receipt = rig.printer.receipts[0].field("items");
    EXPECT_EQ(receipt.find("[\"top:1\""), 0u) << receipt;
    EXPECT_NE(receipt.find("\"bottom:2\"]"), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("SAMPLE STORE"), std::string::npos) << receipt;

    // Printing picture 3 by selection reaches the stored picture.
    LogoPrintJob print(rig.deps(), {{3}, logo_frames::PrintMode::Normal, true, false});
    ASSERT_EQ(runStepJob(print, rig.host.clock).kind, StepResult::Kind::Finished);
    const auto prints = rig.printer.named("nv-print");
    ASSERT_EQ(prints.size(), 1u);
    EXPECT_EQ(prints[0].field("defined"), "true");
    EXPECT_EQ(prints[0].field("width"), "576");
}

INSTANTIATE_TEST_SUITE_P(Kinds, LogoSimRoundTrip,
                         testing::Values(PortKind::Serial, PortKind::Parallel, PortKind::Usb, PortKind::Ethernet,
                                         PortKind::File),
                         [](const testing::TestParamInfo<PortKind>& i) { return kindName(i.param); });

TEST(LogoSimJudge, AnUploadThatSkipsTheEraseWaitIsCaught)
{
    // The same bytes as an upload, with no wait after FS q: the printer reports the raster
    // that came while it was erasing and keeps nothing.
    Rig rig(PortKind::Ethernet);
    const std::string file = rig.host.picture("a.bmp", 100, 50);
    auto picture = rasterizeLogoFile(file, LogoOptions{}, false);
    ASSERT_TRUE(picture.ok());
    ASSERT_TRUE(rig.connection.open().ok());
    auto bytes = logo_frames::defineCommand(1, false);
    ASSERT_TRUE(rig.connection.write(bytes, std::chrono::milliseconds(1000)).ok());
    rig.host.clock.advance(std::chrono::milliseconds(10));
    ASSERT_TRUE(rig.connection.write(picture->uploadBytes(), std::chrono::milliseconds(1000)).ok());
    const auto defines = rig.printer.named("nv-define");
    ASSERT_EQ(defines.size(), 2u);
    EXPECT_NE(defines[0].field("error").find("still erasing"), std::string::npos);
    EXPECT_NE(defines[1].field("verdict").find("refused"), std::string::npos);
    EXPECT_TRUE(rig.printer.state.pictures.empty());
}

TEST(LogoSimJudge, CancelledUploadLeavesTheSentPicturesAndEmptyOnes)
{
    Rig rig(PortKind::Serial);
    std::vector<NvUpload::Item> items;
    for (int i = 0; i < 5; ++i) {
        const std::string f = rig.host.picture("p" + std::to_string(i) + ".bmp", 32, 16);
        items.push_back({f, "p.bmp", false});
    }
    NvUpload upload(rig.deps(), items, LogoOptions{}, kFamilyTavro25, 0, nullptr, 0);
    rig.host.clock.sleep(upload.step().after); // the erase
    upload.step();
    upload.step();
    upload.cancel();
    ASSERT_EQ(runStepJob(upload, rig.host.clock).kind, StepResult::Kind::Finished);
    ASSERT_EQ(rig.printer.state.pictures.size(), 5u);
    EXPECT_FALSE(rig.printer.state.pictures[1].empty());
    EXPECT_TRUE(rig.printer.state.pictures[2].empty());
    EXPECT_TRUE(rig.printer.state.pictures[4].empty());
    EXPECT_EQ(rig.printer.named("nv-define").back().field("verdict"), "\"stored\"");
    // The fifth empty picture is four NULs after the definition: nothing is printed.
    EXPECT_TRUE(rig.printer.named("text").empty());
    EXPECT_TRUE(rig.printer.named("raw").empty());
}
