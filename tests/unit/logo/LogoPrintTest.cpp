// Printing stored pictures, the logo settings frame and the sample receipt against a
// recording connection: bytes per connection kind, the pace and the USB restart waits.
#include "LogoEngineSupport.h"
#include "logo/LogoPrint.h"
#include "logo/LogoSelection.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;
using namespace logo_frames;

namespace {

// Where `needle` starts in `hay`, or npos.
std::size_t find(const Bytes& hay, const Bytes& needle)
{
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : std::size_t(it - hay.begin());
}

} // namespace

TEST(LogoPrint, AllWithDoubleHeightAndHeaderPrintsTwoHundredFiftyFivePictures)
{
    LogoEngineHost host(PortKind::Serial);
    LogoPrintJob job(host.deps(), {{}, PrintMode::DoubleHeight, true, false});
    ASSERT_EQ(runStepJob(job, host.clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(job.outcome(), LogoPrintJob::Outcome::Finished);
    EXPECT_EQ(job.printed(), 255);

    const Bytes& b = host.connection.bytes;
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 5), (Bytes{0x1D, 0x49, 0x01, 0x1B, 0x40}));
    const std::string h7 = "--- Logo 7 ---\n";
    const Bytes seven = concat({Bytes(h7.begin(), h7.end()), {0x1C, 0x70, 0x07, 0x02}});
    const std::size_t at = find(b, seven);
    ASSERT_NE(at, std::string::npos);
    // Right behind picture 6 and in front of picture 8's header.
    const std::string h8 = "--- Logo 8 ---\n";
    EXPECT_EQ(find(b, concat({{0x1C, 0x70, 0x06, 0x02}, seven, Bytes(h8.begin(), h8.end())})) + 4, at);

    std::vector<Ms> expected(255, Ms{300});
    expected.push_back(Ms{1000});
    EXPECT_EQ(host.clock.sleeps(), expected);
    EXPECT_EQ(host.progress.reports.back().text, "Printing... 255/255");
    // The last picture leaves the bar short of full by the end wait; the close fills it.
    const auto& reports = host.progress.reports;
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LT(reports[reports.size() - 2].done, reports.back().total);
    EXPECT_EQ(reports.back().done, reports.back().total);
    EXPECT_EQ(host.connection.journal.back(), "close");
}

TEST(LogoPrint, SelectionPrintsItsNumbersInOrder)
{
    LogoEngineHost host(PortKind::Ethernet);
    auto numbers = parseLogoSelection("3-5,9");
    ASSERT_TRUE(numbers);
    LogoPrintJob job(host.deps(), {*numbers, PrintMode::Normal, false, true});
    ASSERT_EQ(runStepJob(job, host.clock).kind, StepResult::Kind::Finished);
    // A network printer gets neither the check nor ESC @; star emulation prefixes FS p.
    EXPECT_EQ(host.connection.bytes, concat({{0x1B, 0x1C, 0x70, 3, 0},
                                             {0x1B, 0x1C, 0x70, 4, 0},
                                             {0x1B, 0x1C, 0x70, 5, 0},
                                             {0x1B, 0x1C, 0x70, 9, 0}}));
    EXPECT_EQ(host.clock.sleeps(), (std::vector<Ms>{Ms{300}, Ms{300}, Ms{300}, Ms{300}, Ms{1000}}));
}

TEST(LogoPrint, ParallelGetsTheCheckButNoReset)
{
    LogoEngineHost host(PortKind::Parallel);
    LogoPrintJob job(host.deps(), {{1}, PrintMode::Quadruple, false, false});
    ASSERT_EQ(runStepJob(job, host.clock).kind, StepResult::Kind::Finished);
    EXPECT_EQ(host.connection.bytes, (Bytes{0x1D, 0x49, 0x01, 0x1C, 0x70, 0x01, 0x03}));
}

TEST(LogoPrint, WriteFailureAndCancelStopThePrinting)
{
    LogoEngineHost host(PortKind::Usb);
    host.connection.hangUpAfter = 5 + 4 * 3; // three pictures go
    LogoPrintJob job(host.deps(), {{}, PrintMode::Normal, false, false});
    StepResult r = runStepJob(job, host.clock);
    ASSERT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_EQ(job.printed(), 3);
    EXPECT_NE(r.message.find("picture 4"), std::string::npos) << r.message;
    EXPECT_EQ(host.prompter.texts().back(), "Communication error. Can not transimitted.");
    EXPECT_FALSE(host.connection.isOpen());

    LogoEngineHost host2(PortKind::Serial);
    LogoPrintJob job2(host2.deps(), {{}, PrintMode::Normal, false, false});
    int steps = 0;
    r = runStepJob(job2, host2.clock, [&] { return ++steps > 4; });
    EXPECT_EQ(r.kind, StepResult::Kind::Finished);
    EXPECT_EQ(job2.outcome(), LogoPrintJob::Outcome::Cancelled);
    EXPECT_EQ(job2.printed(), 3);
    EXPECT_EQ(host2.connection.journal.back(), "close");

    LogoEngineHost host3(PortKind::Serial);
    host3.connection.failOpen = true;
    LogoPrintJob job3(host3.deps(), {{}, PrintMode::Normal, false, false});
    EXPECT_EQ(runStepJob(job3, host3.clock).kind, StepResult::Kind::Failed);
    EXPECT_EQ(host3.prompter.texts().back(), "ERROR : Port open.");
    EXPECT_TRUE(host3.connection.bytes.empty());
}

TEST(LogoSettings, FramePerConnectionKind)
{
    LogoSettingsValues v;
    v.topEnable = true;
    v.topNumber = 3;
    v.powerOn = true;
    v.bottomNumber = 1;
    v.bottomJustify = LogoJustify::Left;
    const Bytes frame = {0x1C, 0x01, 0x30, 0x01, 0x03, 0x05, 0x00, 0x01, 0x00, 0x1C, 0x02, 0x30};

    for (PortKind kind : {PortKind::File, PortKind::Serial}) {
        LogoEngineHost host(kind);
        LogoActionResult r = sendLogoSettings(host.deps(), v);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(host.connection.bytes, concat({{0x1B, 0x40}, frame}));
        EXPECT_TRUE(host.clock.sleeps().empty());
        EXPECT_EQ(host.connection.journal, (std::vector<std::string>{"open", "write 2", "write 12", "close"}));
    }
    {
        LogoEngineHost host(PortKind::Parallel);
        ASSERT_TRUE(sendLogoSettings(host.deps(), v).ok);
        EXPECT_EQ(host.connection.bytes, frame);
    }
    {
        LogoEngineHost host(PortKind::Ethernet);
        ASSERT_TRUE(sendLogoSettings(host.deps(), v).ok);
        EXPECT_EQ(host.connection.bytes, frame);
        EXPECT_EQ(host.clock.sleeps(), std::vector<Ms>{Ms{500}});
    }
}

TEST(LogoSettings, UsbPrinterIsReopenedAfterItsRestart)
{
    LogoEngineHost host(PortKind::Usb);
    host.connection.awayForTries = 2;
    LogoActionResult r = sendLogoSettings(host.deps(), {});
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(r.warning.empty());
    EXPECT_EQ(host.clock.sleeps(), (std::vector<Ms>{Ms{3000}, Ms{500}, Ms{400}}));
    EXPECT_EQ(host.connection.journal.back(), "close");

    LogoEngineHost gone(PortKind::Usb);
    gone.connection.awayForTries = 99;
    r = sendLogoSettings(gone.deps(), {});
    EXPECT_TRUE(r.ok); // the frame went; the printer not coming back is told separately
    EXPECT_NE(r.warning.find("did not come back"), std::string::npos);
    EXPECT_EQ(gone.clock.sleeps(), (std::vector<Ms>{Ms{3000}, Ms{500}, Ms{400}, Ms{300}, Ms{200}, Ms{100}}));
}

TEST(LogoSettings, FrameIsNotSentWhenTheResetFails)
{
    LogoEngineHost host(PortKind::Serial);
    host.connection.hangUpAfter = 1;
    LogoActionResult r = sendLogoSettings(host.deps(), {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(host.connection.bytes, Bytes{0x1B});
    EXPECT_EQ(host.prompter.texts().back(), "ERROR : Write to port.");
}

TEST(LogoSettings, SampleReceiptGoesWholeAndUsbIsReopened)
{
    LogoEngineHost host(PortKind::Usb);
    LogoActionResult r = sendSampleReceipt(host.deps());
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(host.connection.bytes, concat({{0x1B, 0x40}, sampleReceipt()}));
    EXPECT_EQ(host.clock.sleeps(), std::vector<Ms>{Ms{3000}});
    EXPECT_NE(std::find(host.connection.journal.begin(), host.connection.journal.end(), "reopen"),
              host.connection.journal.end());
}
