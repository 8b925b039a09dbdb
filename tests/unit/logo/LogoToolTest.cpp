// The logo tool's actions as the desktop pages and tavroctl call them: a connection made by
// the factory for each action, opened as its traits say, closed after it, the front end's
// cancel token lent to it, and a report that says what happened and what the printer holds.
#include "LogoEngineSupport.h"
#include "app/CancelToken.h"
#include "app/Profile.h"
#include "logo/BitmapList.h"
#include "logo/LogoLog.h"
#include "logo/LogoTool.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;

namespace {

class LogoToolTest : public testing::Test {
protected:
    void useKind(PortKind kind) { host = std::make_unique<LogoEngineHost>(kind); }

    logo_tool::LogoToolDeps deps(const CancelToken* cancel = nullptr)
    {
        ConnectionSettings settings;
        settings.portName = "test printer";
        settings.modelFamily = kFamilyTavro25;
        return {settings,
                [this](const ConnectionSettings&) -> std::unique_ptr<PrinterConnection> {
                    ++made;
                    if (noConnection)
                        return nullptr;
                    return std::make_unique<LentConnection>(host->connection);
                },
                host->clock,
                host->prompter,
                host->log,
                host->progress,
                cancel,
                {}};
    }
    BitmapList& list()
    {
        if (!m_list)
            m_list = std::make_unique<BitmapList>(host->prompter, options);
        return *m_list;
    }

    std::unique_ptr<LogoEngineHost> host = std::make_unique<LogoEngineHost>(PortKind::Serial);
    LogoOptions options;
    int made = 0;
    bool noConnection = false;

private:
    std::unique_ptr<BitmapList> m_list;
};

} // namespace

TEST_F(LogoToolTest, UploadReportsWhatThePrinterHoldsAndWritesTheLog)
{
    const std::string a = host->picture("a.bmp", 100, 50), b = host->picture("b.bmp", 16, 8);
    ASSERT_TRUE(list().addFile(a, 0));
    ASSERT_TRUE(list().addFile(b, 0));
    Profile profile(host->dir / "tavroset.INI");
    const logo_tool::LogoReport r = logo_tool::uploadLogos(deps(), list(), options, &profile, 0);
    ASSERT_EQ(r.outcome, logo_tool::LogoOutcome::Done) << r.message;
    EXPECT_EQ(r.pictures, 2);
    EXPECT_EQ(r.bytes, 728u + 16u);
    EXPECT_EQ(r.printerHolds, "the printer holds pictures 1..2");
    EXPECT_TRUE(r.message.empty()) << r.message;
    EXPECT_EQ(LogoLog(profile).read(), (std::vector<std::string>{a, b}));
    EXPECT_EQ(made, 1);
    // A serial printer: the printer check and ESC @, FS q 2, both pictures, closed.
    const Bytes& sent = host->connection.bytes;
    ASSERT_GE(sent.size(), 8u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 8), (Bytes{0x1D, 0x49, 0x01, 0x1B, 0x40, 0x1C, 0x71, 0x02}));
    EXPECT_EQ(host->connection.journal.back(), "close");
    EXPECT_EQ(host->progress.reports.back().done, host->progress.reports.back().total);
}

TEST_F(LogoToolTest, CtrlCDuringTheUploadPadsTheDefinitionAndSaysWhatThePrinterHolds)
{
    const std::string a = host->picture("a.bmp", 100, 50);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(list().addFile(a, 0));
    CancelToken cancel;
    // The printer stalls inside the first picture and Ctrl-C's token ends the write there.
    host->connection.cutAfter = 5 + 3 + 4 + 600;
    const logo_tool::LogoReport r = logo_tool::uploadLogos(deps(&cancel), list(), options, nullptr, 0);
    EXPECT_EQ(r.outcome, logo_tool::LogoOutcome::Cancelled) << r.message;
    EXPECT_EQ(r.printerHolds, "the printer holds picture 1 cut short (its rest blank); pictures 2..3 are empty");
    // Picture 1 completed with zeros, then the three empty pictures of a cancel.
    EXPECT_EQ(host->connection.bytes.size(), 5u + 3u + (4u + 728u) + 3u * 4u);
    EXPECT_EQ(host->connection.journal.back(), "close");

    // Ctrl-C before printing starts: the job hears it from its first step and sends nothing.
    useKind(PortKind::Serial);
    cancel.cancel();
    const logo_tool::LogoReport printed = logo_tool::printLogos(deps(&cancel), {});
    EXPECT_EQ(printed.outcome, logo_tool::LogoOutcome::Cancelled);
    EXPECT_EQ(printed.pictures, 0);
    EXPECT_TRUE(host->connection.bytes.empty());
}

TEST_F(LogoToolTest, ActionsWithoutAConnectionSendNothingAndSayNothing)
{
    noConnection = true;
    ASSERT_TRUE(list().addFile(host->picture("a.bmp", 8, 8), 0));
    const std::vector<logo_tool::LogoReport> reports = {
        logo_tool::uploadLogos(deps(), list(), options, nullptr, 0),
        logo_tool::clearLogos(deps()),
        logo_tool::printLogos(deps(), {}),
        logo_tool::setLogoSettings(deps(), {}),
        logo_tool::printSampleReceipt(deps()),
        logo_tool::checkPrinter(deps()),
    };
    for (const auto& r : reports) {
        EXPECT_EQ(r.outcome, logo_tool::LogoOutcome::NotConnected);
        EXPECT_EQ(r.printerHolds, "nothing was sent; the printer keeps what it held");
    }
    EXPECT_EQ(made, 6);
    EXPECT_TRUE(host->prompter.boxes().empty()) << "tavroctl prints its own line";
    EXPECT_TRUE(host->connection.journal.empty());

    // The desktop's factory shows the port that did not open.
    logo_tool::LogoToolDeps d = deps();
    d.connect = logo_tool::sayingPortOpenFailed(d.connect, host->prompter);
    EXPECT_EQ(logo_tool::clearLogos(d).outcome, logo_tool::LogoOutcome::NotConnected);
    ASSERT_EQ(host->prompter.texts().size(), 1u);
    EXPECT_EQ(host->prompter.texts()[0], "ERROR : Port open.");
}

TEST_F(LogoToolTest, ClearPrintSettingsAndReceiptReportTheirOutcome)
{
    logo_tool::LogoReport r = logo_tool::clearLogos(deps());
    EXPECT_EQ(r.outcome, logo_tool::LogoOutcome::Done);
    EXPECT_EQ(r.printerHolds, "the printer's NV bit-image memory is erased");
    host->prompter.scriptAnswers({PromptAnswer::No});
    EXPECT_EQ(logo_tool::clearLogos(deps()).outcome, logo_tool::LogoOutcome::Declined);

    useKind(PortKind::Serial);
    r = logo_tool::printLogos(deps(), {{2, 1}, logo_frames::PrintMode::Normal, false, false});
    EXPECT_EQ(r.outcome, logo_tool::LogoOutcome::Done);
    EXPECT_EQ(r.pictures, 2);

    // A USB printer that does not come back after its restart: sent, with the warning.
    useKind(PortKind::Usb);
    host->connection.awayForTries = 100;
    r = logo_tool::setLogoSettings(deps(), {});
    EXPECT_EQ(r.outcome, logo_tool::LogoOutcome::Done);
    EXPECT_NE(r.message.find("did not come back"), std::string::npos) << r.message;

    useKind(PortKind::Serial);
    host->connection.failOpen = true;
    r = logo_tool::printSampleReceipt(deps());
    EXPECT_EQ(r.outcome, logo_tool::LogoOutcome::Failed);
    EXPECT_NE(r.message.find("No such file or directory"), std::string::npos) << r.message;
    EXPECT_EQ(host->prompter.texts().back(), "ERROR : Port open.");
}

TEST_F(LogoToolTest, PrinterCheckFollowsTheConnectionsTraits)
{
    struct Case {
        PortKind kind;
        Bytes sent;
        std::vector<std::string> journal;
    };
    const std::vector<Case> cases = {
        {PortKind::Serial, {0x1B, 0x40, 0x1D, 0x49, 0x01}, {"open", "write 2", "write 3", "read 1000", "close"}},
        {PortKind::Usb, {0x1B, 0x40, 0x1D, 0x49, 0x01}, {"open", "write 2", "write 3", "read 1000", "close"}},
        {PortKind::File, {0x1B, 0x40, 0x1D, 0x49, 0x01}, {"open", "write 2", "write 3", "close"}},
        {PortKind::Parallel, {}, {"open", "close"}},
        {PortKind::Ethernet, {}, {"close"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        useKind(c.kind);
        const logo_tool::LogoReport r = logo_tool::checkPrinter(deps());
        EXPECT_EQ(r.outcome, logo_tool::LogoOutcome::Done) << r.message;
        EXPECT_EQ(host->connection.bytes, c.sent);
        EXPECT_EQ(host->connection.journal, c.journal);
        EXPECT_TRUE(host->prompter.boxes().empty());
    }
    useKind(PortKind::Serial);
    host->connection.failOpen = true;
    EXPECT_EQ(logo_tool::checkPrinter(deps()).outcome, logo_tool::LogoOutcome::Failed);
    EXPECT_EQ(host->prompter.texts().back(), "ERROR : Port open.");
    useKind(PortKind::Serial);
    host->connection.hangUpAfter = 1;
    EXPECT_EQ(logo_tool::checkPrinter(deps()).outcome, logo_tool::LogoOutcome::Failed);
    EXPECT_EQ(host->prompter.texts().back(), "ERROR : Write to port.");
}

TEST(LogoToolRules, PrintingNeedsAPrinterThatAnswersAndFilesSayToFile)
{
    struct Case {
        const char* port;
        bool canPrint;
        bool toFile;
    };
    for (const Case& c : {Case{"/dev/ttyS0", true, false}, Case{"/dev/lp0", true, false}, Case{"USB", true, false},
                          Case{"ETHERNET_II", true, false}, Case{"FILE", false, true}, Case{"out.prn", false, true}}) {
        ConnectionSettings s;
        s.portName = c.port;
        EXPECT_EQ(logo_tool::canPrint(s), c.canPrint) << c.port;
        EXPECT_EQ(logo_tool::writesToFile(s), c.toFile) << c.port;
    }
}
