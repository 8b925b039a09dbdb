// The two firmware download dialogs over the firmware core: the opening rules, File Open and
// UPDATE checks with their messages, a whole transfer to a recording connection, and the
// TAVRO15 packet download on the dialog's worker.
#include "GuiTestSupport.h"
#include "FirmwareImages.h"
#include "RecordingPrompter.h"
#include "TestClock.h"
#include "../unit/firmware/FakeConnection.h"

#include "app/CErrorLog.h"
#include "app/Event.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "firmware/DownloadNote.h"
#include "firmware/TransferBlock.h"
#include "firmware/ui/FirmwareControls.h"
#include "shell/ShellControls.h"
#include "firmware/ui/CFwDownload15Dlg.h"
#include "firmware/ui/CFwUpdateDlg.h"
#include "qthost/QtClock.h"
#include "shell/CMenuDlg.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

class FwUpdateDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        selectCatalog(false);
        image = makeTestImage();
        writeTestImage(work / "good.T25", image);
    }
    void TearDown() override { selectCatalog(false); }

    std::unique_ptr<CFwUpdateDlg> make(ModelFamily family = kFamilyTavro25, bool service = false, bool korean = false)
    {
        ConnectionSettings settings;
        settings.portName = "/dev/ttyS0";
        settings.modelFamily = family;
        FwUpdateDlgDeps deps{prompter, clock, profile, log, settings, korean, "TAVRO25 - /dev/ttyS0", service,
                             [this]() -> std::unique_ptr<PrinterConnection> {
                                 auto c = std::make_unique<FakeConnection>(kind, clock);
                                 // The dialog drops the connection at the end: keep the bytes here.
                                 c->onWrite = [this](std::span<const std::uint8_t> b, int n) {
                                     IoResult r = onWrite ? onWrite(b, n) : IoResult::done(b.size());
                                     stream.insert(stream.end(), b.begin(), b.begin() + std::min(r.count(), b.size()));
                                     return r;
                                 };
                                 ++connections;
                                 return c;
                             },
                             [this](QWidget*, const std::string& filter) {
                                 filters.push_back(filter);
                                 return nextFile;
                             },
                             {}};
        deps.readyTimeout = readyTimeout;
        deps.noteFolder = noteFolder;
        return std::make_unique<CFwUpdateDlg>(deps);
    }
    bool waitForEnd(CFwUpdateDlg& dlg)
    {
        return QtClock::waitUntil([&] { return !dlg.transferRunning(); }, 20s);
    }

    TempDir work;
    RecordingPrompter prompter;
    TestClock clock;
    CErrorLog log{&clock};
    Profile profile{work / "tavroset.INI"};
    std::vector<std::uint8_t> image;
    PortKind kind = PortKind::Serial;
    std::function<IoResult(std::span<const std::uint8_t>, int)> onWrite;
    int connections = 0;
    std::vector<std::uint8_t> stream; // written by the worker, read after it ended
    std::string nextFile;
    std::vector<std::string> filters;
    std::chrono::milliseconds readyTimeout{0}; // no printer check after "Update Complete."
    std::filesystem::path noteFolder;
};

QRadioButton* radio(QWidget* dlg, int id) { return ctl<QRadioButton>(dlg, id); }
std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

} // namespace

TEST_F(FwUpdateDlgTest, OpensWithItsRulesAndCaptions)
{
    auto dlg = make(kFamilyTavro25);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "TAVROSet(203dpi) : Firmware Download");
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled()); // no remembered file
    EXPECT_EQ(radio(dlg.get(), fwupdate::AreaProgram)->text(), "Program Area");
    EXPECT_TRUE(radio(dlg.get(), fwupdate::AreaProgram)->isChecked());
    EXPECT_TRUE(radio(dlg.get(), fwupdate::AreaExtFont)->isEnabled());
    EXPECT_FALSE(radio(dlg.get(), fwupdate::AreaLcdFont)->isEnabled()); // LCD font: family 6 only
    EXPECT_FALSE(radio(dlg.get(), fwupdate::AreaDownloader)->isEnabled()); // DOWNLOAD: service only
    EXPECT_FALSE(radio(dlg.get(), fwupdate::AreaBoot)->isEnabled());
    EXPECT_TRUE(radio(dlg.get(), fwupdate::AreaBoot)->isHidden());
    EXPECT_FALSE(dlg->serviceMode());

    auto six = make(kFamilyTavro46, false, true);
    EXPECT_TRUE(radio(six.get(), fwupdate::AreaLcdFont)->isEnabled());
    EXPECT_EQ(radio(six.get(), fwupdate::AreaLcdFont)->text().toStdString(), "LCD 폰트 영역");
    EXPECT_EQ(ctl<QPushButton>(six.get(), fwupdate::Update)->text().toStdString(), "다운로드");
    EXPECT_EQ(ctl<QLabel>(six.get(), fwupdate::ChecksumLabel)->text().toStdString(), "체크섬");
}

TEST_F(FwUpdateDlgTest, RememberedFileAndServiceModeBootRule)
{
    // Boot permission 0: Boot Area shown in service mode but stays disabled.
    auto locked = makeTestImage(-1, 0);
    writeTestImage(work / "locked.T25", locked);
    ASSERT_TRUE(profile.writeString("FWDN20", "FOLDER", (work / "locked.T25").string()));
    auto dlg = make(kFamilyTavro25, true);
    EXPECT_TRUE(dlg->serviceMode());
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
    EXPECT_FALSE(radio(dlg.get(), fwupdate::AreaBoot)->isHidden());
    EXPECT_FALSE(radio(dlg.get(), fwupdate::AreaBoot)->isEnabled());
    EXPECT_TRUE(radio(dlg.get(), fwupdate::AreaDownloader)->isEnabled());

    // A file that allows it enables Boot; choosing a locked one again moves the choice to Program.
    nextFile = (work / "good.T25").string();
    dlg->onFileOpen();
    EXPECT_EQ(filters.back(), "Firmware file(*.T25)|*.T25|ALL FILE(*.*)|*.*|");
    ASSERT_TRUE(radio(dlg.get(), fwupdate::AreaBoot)->isEnabled());
    radio(dlg.get(), fwupdate::AreaBoot)->setChecked(true);
    nextFile = (work / "locked.T25").string();
    dlg->onFileOpen();
    EXPECT_TRUE(radio(dlg.get(), fwupdate::AreaProgram)->isChecked());
    EXPECT_FALSE(radio(dlg.get(), fwupdate::AreaBoot)->isEnabled());
    EXPECT_TRUE(prompter.boxes().empty());
}

TEST_F(FwUpdateDlgTest, FileOpenRefusesAShortFileAndUpdateRefusesALargeOne)
{
    auto dlg = make();
    auto shortImage = image;
    shortImage.resize(kTestImageSize - 1);
    writeTestImage(work / "short.T25", shortImage);
    nextFile = (work / "short.T25").string();
    dlg->onFileOpen();
    ASSERT_EQ(prompter.texts().size(), 1u);
    // (What was found follows on the next lines: see EveryRefusalSaysWhatWasExpectedAndWhatWasFound.)
    EXPECT_EQ(firstLine(prompter.texts()[0]), "ERROR : Please check the firmware file.");
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());

    auto big = image;
    big.resize(kTestImageSize + 4096, 0);
    writeTestImage(work / "big.T25", big);
    nextFile = (work / "big.T25").string();
    dlg->onFileOpen();
    ASSERT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
    dlg->onUpdate();
    auto boxes = prompter.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(firstLine(boxes[1].text), "FileSize (8392704 bytes) Error!");
    EXPECT_EQ(boxes[1].caption, "Error");
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
    EXPECT_EQ(connections, 0); // nothing was opened
    EXPECT_EQ(profile.getString("FWDN20", "FILE"), "big.T25");

    nextFile = (work / "missing.T25").string();
    dlg->onFileOpen();
    EXPECT_EQ(prompter.texts().back(), "ERROR : File Open");
}

TEST_F(FwUpdateDlgTest, UpdateSendsTheBlockOnAWorkerAndShowsChecksumSizeAndCompletion)
{
    auto dlg = make();
    nextFile = (work / "good.T25").string();
    dlg->onFileOpen();
    dlg->onUpdate();
    EXPECT_FALSE(ctl<QPushButton>(dlg.get(), fwupdate::FileOpen)->isEnabled());
    ASSERT_TRUE(waitForEnd(*dlg));
    auto expected = buildTransferBlock(*FirmwareImage::parse(image), FirmwareArea::Program, kFamilyTavro25);
    EXPECT_EQ(connections, 1);
    EXPECT_EQ(stream, expected);
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), fwupdate::Checksum)->text(), QString::asprintf("%X", transferBlockChecksum(expected)));
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), fwupdate::FileSize)->text(), "851968");
    EXPECT_EQ(prompter.texts().back(), "Update Complete.\nPlease wait beep the buzzer.");
    EXPECT_TRUE(dlg->lastOutcome().completed());
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::FileOpen)->isEnabled());
    EXPECT_TRUE(dlg->windowTitle().startsWith("TAVROSet(203dpi) : Firmware Download - "));
    EXPECT_EQ(profile.getString("FWDN20", "FOLDER"), (work / "good.T25").string());
    EXPECT_EQ(profile.getString("FWDN20", "FILE"), "good.T25");
}

TEST_F(FwUpdateDlgTest, QuestionAnsweredNoSendsNothingAndFailureIsNeverCompletion)
{
    auto dlg = make();
    nextFile = (work / "good.T25").string();
    dlg->onFileOpen();
    radio(dlg.get(), fwupdate::AreaExtFont)->setChecked(true);
    prompter.scriptAnswers({PromptAnswer::No});
    dlg->onUpdate();
    EXPECT_EQ(prompter.texts().back(), "Are you sure the Ext.Font area download?");
    EXPECT_EQ(connections, 0);
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled()) << "ready for another area";

    kind = PortKind::Parallel;
    onWrite = [](std::span<const std::uint8_t> b, int n) {
        return n == 4 ? IoResult::failed("write: Input/output error", EIO) : IoResult::done(b.size());
    };
    nextFile = (work / "good.T25").string();
    dlg->onFileOpen();
    radio(dlg.get(), fwupdate::AreaProgram)->setChecked(true);
    dlg->onUpdate();
    ASSERT_TRUE(waitForEnd(*dlg));
    // The failure's own box, then what the area holds now and what to do.
    ASSERT_GE(prompter.texts().size(), 2u);
    EXPECT_EQ(prompter.texts()[prompter.texts().size() - 2], "LPT Write Error[5]");
    EXPECT_NE(prompter.texts().back().find("The Program Area is incomplete: it was written up to 0x501FF6"),
              std::string::npos)
        << prompter.texts().back();
    EXPECT_FALSE(dlg->lastOutcome().completed());
    EXPECT_EQ(ctl<QLineEdit>(dlg.get(), fwupdate::FileSize)->text(), "8192");
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
}

namespace {

std::vector<std::uint8_t> imageWithSignature(const char* signature, std::size_t size = kTestImageSize)
{
    auto bytes = makeTestImage(-1, 1, false, size);
    if (size == kTestImageSize)
        std::copy(signature, signature + 4, bytes.end() - 4);
    return bytes;
}

// A file the dialog refuses, and the whole text of the box: the dialog's own line, then what
// was expected and what was found.
struct RefusalCase {
    const char* name;
    std::vector<std::uint8_t> file;
    bool korean;
    bool atUpdate; // refused by UPDATE (its size), else by File Open (its trailer)
    const char* caption;
    const char* text;
};

} // namespace

TEST_F(FwUpdateDlgTest, EveryRefusalSaysWhatWasExpectedAndWhatWasFound)
{
    auto big = makeTestImage();
    big.resize(kTestImageSize + 4096, 0);
    auto oneShort = makeTestImage();
    oneShort.pop_back();
    const RefusalCase cases[] = {
        {"short file", makeTestImage(-1, 1, false, 1024), false, false, kAppDisplayName,
         "ERROR : Please check the firmware file.\nExpected a file of 8388608 bytes; this file has 1024 bytes.\n"
         "Expected the signature \"QZM2\" in the last four bytes (0x7FFFFC to 0x7FFFFF); the file ends before them."},
        {"one byte short", oneShort, false, false, kAppDisplayName,
         "ERROR : Please check the firmware file.\nExpected a file of 8388608 bytes; this file has 8388607 bytes.\n"
         "Expected the signature \"QZM2\" in the last four bytes (0x7FFFFC to 0x7FFFFF); found 51 5A 4D 00."},
        {"wrong signature", imageWithSignature("QZM1"), false, false, kAppDisplayName,
         "ERROR : Please check the firmware file.\n"
         "Expected the signature \"QZM2\" in the last four bytes (0x7FFFFC to 0x7FFFFF); found 51 5A 4D 31."},
        {"wrong signature, Korean", imageWithSignature("QZM1"), true, false, kAppDisplayName,
         "ERROR : Please check the firmware file.\n서명: 마지막 4 바이트(0x7FFFFC ~ 0x7FFFFF)가 \"QZM2\" 이어야 하지만 51 5A 4D 31 입니다."},
        {"short file, Korean", makeTestImage(-1, 1, false, 1024), true, false, kAppDisplayName,
         "ERROR : Please check the firmware file.\n파일 크기: 8388608 바이트여야 하지만 이 파일은 1024 바이트입니다.\n"
         "서명: 마지막 4 바이트(0x7FFFFC ~ 0x7FFFFF)가 \"QZM2\" 이어야 하지만 파일이 그 전에 끝납니다."},
        {"larger file", big, false, true, "Error", "FileSize (8392704 bytes) Error!\nA firmware file has 8388608 bytes (8 MiB)."},
        {"larger file, Korean", big, true, true, "Error", "FileSize (8392704 bytes) Error!\n펌웨어 파일은 8388608 바이트(8 MiB)여야 합니다."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prompter.clear();
        auto dlg = make(kFamilyTavro25, false, c.korean);
        writeTestImage(work / "case.T25", c.file);
        nextFile = (work / "case.T25").string();
        dlg->onFileOpen();
        if (c.atUpdate)
            dlg->onUpdate();
        const auto boxes = prompter.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, c.caption);
        EXPECT_EQ(boxes[0].icon, PromptIcon::Exclamation);
        EXPECT_FALSE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
        // Choosing another area does not make a refused file downloadable.
        radio(dlg.get(), fwupdate::AreaExtFont)->setChecked(true);
        EXPECT_FALSE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
        EXPECT_TRUE(ctl<QLineEdit>(dlg.get(), fwupdate::Checksum)->text().isEmpty());
        EXPECT_EQ(connections, 0);
    }
}

namespace {

// How a download ends on one kind of port, and the box the user gets.
struct EndingCase {
    const char* name;
    PortKind kind;
    bool korean;
    // The fifth chunk's write, or nothing when every chunk is taken.
    std::function<IoResult()> fifthChunk;
    Msg entry;
    PromptIcon icon;
};

} // namespace

TEST_F(FwUpdateDlgTest, EachEndingShowsItsCatalogEntryWithItsIcon)
{
    const EndingCase cases[] = {
        {"complete", PortKind::Serial, false, nullptr, Msg::UpdateComplete, PromptIcon::Information},
        {"complete, Korean", PortKind::Usb, true, nullptr, Msg::UpdateComplete, PromptIcon::Information},
        {"serial hang-up", PortKind::Serial, false, [] { return IoResult::hungUp(100, "hung up", EIO); }, Msg::WriteFail,
         PromptIcon::Exclamation},
        {"serial line held off", PortKind::Serial, false, [] { return IoResult::timedOut(100, "timed out"); },
         Msg::PrinterNotReady, PromptIcon::Exclamation},
        {"USB printer unplugged", PortKind::Usb, false,
         [] { return IoResult::failed("write: No such device", ENODEV, 100); }, Msg::WriteFail, PromptIcon::Exclamation},
        {"USB printer unplugged, Korean", PortKind::Usb, true,
         [] { return IoResult::failed("write: No such device", ENODEV, 100); }, Msg::WriteFail, PromptIcon::Exclamation},
        {"parallel port", PortKind::Parallel, false, [] { return IoResult::failed("write: Input/output error", EIO); },
         Msg::LptWriteError, PromptIcon::Exclamation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        selectCatalog(c.korean);
        prompter.clear();
        kind = c.kind;
        onWrite = [&c](std::span<const std::uint8_t> b, int n) {
            return n == 4 && c.fifthChunk ? c.fifthChunk() : IoResult::done(b.size());
        };
        auto dlg = make(kFamilyTavro25, false, c.korean);
        nextFile = (work / "good.T25").string();
        dlg->onFileOpen();
        dlg->onUpdate();
        EXPECT_FALSE(radio(dlg.get(), fwupdate::AreaExtFont)->isEnabled()) << "no other area while one downloads";
        ASSERT_TRUE(waitForEnd(*dlg));
        const auto boxes = prompter.boxes();
        const bool complete = c.entry == Msg::UpdateComplete;
        // A download that ended early says next what the area now holds.
        ASSERT_EQ(boxes.size(), complete ? 1u : 2u);
        const std::string expected = c.entry == Msg::LptWriteError ? catalogFormat(c.entry, EIO) : catalogText(c.entry);
        EXPECT_EQ(boxes[0].text, expected);
        EXPECT_EQ(boxes[0].icon, c.icon);
        if (!complete)
            EXPECT_NE(boxes[1].text.find(c.korean ? "이(가) 완전하지 않습니다" : "The Program Area is incomplete"), std::string::npos)
                << boxes[1].text;
        EXPECT_EQ(dlg->windowTitle().endsWith(" - 100 %"), complete) << dlg->windowTitle().toStdString();
        EXPECT_EQ(ctl<QLineEdit>(dlg.get(), fwupdate::FileSize)->text().toStdString(),
                  complete ? "851968" : c.fifthChunk().count() ? "8292" : "8192");
        EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
        EXPECT_TRUE(radio(dlg.get(), fwupdate::AreaExtFont)->isEnabled());
    }
}

TEST_F(FwUpdateDlgTest, ChecksumAndFileSizeFollowTheChosenAreaAndANoKeepsUpdateReady)
{
    auto dlg = make(kFamilyTavro46, true);
    EXPECT_EQ(ctl<QPushButton>(dlg.get(), fwupdate::FileOpen)->text(), "&File Open");
    EXPECT_EQ(ctl<QPushButton>(dlg.get(), fwupdate::Update)->text(), "&UPDATE");
    EXPECT_EQ(ctl<QPushButton>(dlg.get(), fwupdate::Exit)->text(), "&EXIT");
    auto korean = make(kFamilyTavro46, false, true);
    EXPECT_EQ(ctl<QPushButton>(korean.get(), fwupdate::Update)->shortcut(), QKeySequence(Qt::ALT | Qt::Key_U));

    nextFile = (work / "good.T25").string();
    dlg->onFileOpen();
    auto parsed = FirmwareImage::parse(image);
    ASSERT_TRUE(parsed.ok());
    auto shows = [&](FirmwareArea a) {
        const auto block = buildTransferBlock(*parsed, a, kFamilyTavro46);
        return ctl<QLineEdit>(dlg.get(), fwupdate::Checksum)->text() ==
                   QString::asprintf("%X", transferBlockChecksum(block)) &&
               ctl<QLineEdit>(dlg.get(), fwupdate::FileSize)->text() == QString::number(block.size());
    };
    EXPECT_TRUE(shows(FirmwareArea::Program));
    for (auto [id, a] : {std::pair{fwupdate::AreaExtFont, FirmwareArea::ExtFont}, {fwupdate::AreaLcdFont, FirmwareArea::LcdFont},
                         {fwupdate::AreaDownloader, FirmwareArea::Downloader}}) {
        radio(dlg.get(), id)->setChecked(true);
        EXPECT_TRUE(shows(a)) << static_cast<int>(a);
        prompter.scriptAnswers({PromptAnswer::No});
        dlg->onUpdate();
        EXPECT_TRUE(shows(a)) << "after No, " << static_cast<int>(a);
        EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
    }
    radio(dlg.get(), fwupdate::AreaProgram)->setChecked(true);
    EXPECT_TRUE(shows(FirmwareArea::Program));
    EXPECT_TRUE(ctl<QPushButton>(dlg.get(), fwupdate::Update)->isEnabled());
    EXPECT_EQ(connections, 0);
}

TEST_F(FwUpdateDlgTest, ExitDuringTheTransferSaysWhatTheAreaHoldsAndAWholeOneAsksThePrinter)
{
    // The tenth chunk is held as a write to a printer that stopped reading is, until EXIT.
    auto blocked = std::make_shared<Event>();
    noteFolder = work.path();
    auto dlg = make();
    nextFile = (work / "good.T25").string();
    dlg->onFileOpen();
    onWrite = [blocked](std::span<const std::uint8_t> b, int n) {
        if (n == 10) {
            blocked->set();
            std::this_thread::sleep_for(100ms);
            return IoResult::cancelled(0, "cancelled");
        }
        return IoResult::done(b.size());
    };
    dlg->onUpdate();
    ASSERT_TRUE(QtClock::waitUntil([&] { return blocked->isSet(); }, 10s));
    prompter.scriptAnswers({PromptAnswer::Yes});
    dlg->reject();
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    ASSERT_FALSE(prompter.texts().empty());
    const std::string said = prompter.texts().back();
    EXPECT_EQ(said.rfind("Cancelled.\nThe Program Area is incomplete: it was written up to 0x504FF6", 0), 0u) << said;
    EXPECT_NE(said.find("download the Program Area again with the same file (" + (work / "good.T25").string()), std::string::npos);
    // The printer stays flagged for the next start.
    EXPECT_EQ(downloadNoticesIn(work.path(), false).size(), 1u);

    // A whole download removes the note; the status line then says the printer answers.
    onWrite = [](std::span<const std::uint8_t> b, int) { return IoResult::done(b.size()); };
    readyTimeout = 1s;
    auto whole = make();
    whole->onUpdate();
    ASSERT_TRUE(waitForEnd(*whole));
    EXPECT_EQ(prompter.texts().back(), "Update Complete.\nPlease wait beep the buzzer.");
    ASSERT_TRUE(QtClock::waitUntil([&] { return !whole->readyWaitRunning(); }, 10s));
    // The fake printer never answers the check: the line says so, after the time.
    EXPECT_EQ(whole->statusText().toStdString().rfind("The printer did not answer within 1 s.", 0), 0u)
        << whole->statusText().toStdString();
    EXPECT_TRUE(downloadNoticesIn(work.path(), false).empty());
}

// A TAVRO15 download dialog's surroundings with a 2 MiB image chosen in its profile.
class FwDownload15DlgRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        selectCatalog(false);
        writeFileBytes(work / "fw.bin", std::string(0x200000, '\x5A'));
        ASSERT_TRUE(profile.writeString("FWDN15", "FOLDER", (work / "fw.bin").string()));
        ASSERT_TRUE(profile.writeString("FWDN15", "FILE", "fw.bin"));
    }
    TempDir work;
    RecordingPrompter prompter;
    TestClock clock;
    CErrorLog log{&clock};
    Profile profile{work / "tavroset.INI"};
};

TEST_F(FwDownload15DlgRun, PacketDownloadRunsOnTheWorkerToCompleted)
{
    // The dialog drops its connection at the end: keep what was written here.
    auto written = std::make_shared<std::vector<std::vector<std::uint8_t>>>();
    ConnectionSettings settings;
    settings.portName = "/dev/ttyS0";
    settings.modelFamily = kFamilyTavro15;
    settings.flowCtrl = 1; // the user's hardware handshake
    int downloadFlow = 0;
    LegacyDownloadOptions options;
    FwDownload15DlgDeps deps{prompter, clock, profile, log, settings, false, "TAVRO15 - /dev/ttyS0",
                             [&](const ConnectionSettings& s) -> std::unique_ptr<PrinterConnection> {
                                 downloadFlow = s.flowCtrl;
                                 auto c = std::make_unique<FakeConnection>(PortKind::Serial, clock);
                                 FakeConnection* raw = c.get();
                                 c->onWrite = [raw, written](std::span<const std::uint8_t> b, int) {
                                     written->emplace_back(b.begin(), b.end());
                                     raw->answers.push_back({0x10, 0x06});
                                     return IoResult::done(b.size());
                                 };
                                 return c;
                             },
                             {}, options};
    deps.jobClock = &clock;
    deps.readyTimeout = 0ms; // only the download's packets are counted here
    {
        CFwDownload15Dlg plain(deps);
        EXPECT_FALSE(ctl<QRadioButton>(&plain, fw15::AreaBoot)->isEnabled()) << "Boot only in service mode";
        EXPECT_TRUE(ctl<QRadioButton>(&plain, fw15::AreaBoot)->isHidden());
    }
    deps.serviceMode = true;
    CFwDownload15Dlg dlg(deps);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "TAVROSet(203dpi) : TAVRO15 Firmware Download");
    EXPECT_FALSE(ctl<QRadioButton>(&dlg, fw15::AreaExtFont)->isEnabled());
    EXPECT_EQ(ctl<QLineEdit>(&dlg, fw15::NameEdit)->text(), "fw.bin");
    ctl<QRadioButton>(&dlg, fw15::AreaBoot)->setChecked(true);
    dlg.onOk();
    ASSERT_TRUE(QtClock::waitUntil([&] { return !dlg.running(); }, 20s));
    ASSERT_GE(prompter.boxes().size(), 2u);
    EXPECT_EQ(prompter.boxes()[0].text, "Are you sure the Boot area download?");
    EXPECT_EQ(prompter.boxes()[0].buttons, PromptButtons::YesNoDefaultNo);
    EXPECT_EQ(downloadFlow, 3) << "the download runs without handshake";
    EXPECT_EQ(prompter.texts().back(), "COMPLETED");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    ASSERT_EQ(written->size(), 129u);
    EXPECT_EQ(written->front(), (std::vector<std::uint8_t>{0x40, 0xF2, 0x22, 0x23, 0, 0, 0, 0, 0, 0}));
    // The erase pauses were taken on the clock: six of 400 ms for Boot.
    EXPECT_EQ(clock.totalSlept(), 2400ms);
    EXPECT_EQ(profile.getString("FWDN15", "FILE"), "fw.bin");
}

TEST_F(FwDownload15DlgRun, AShortOrBlankImageIsStoppedBeforeAnyConnection)
{
    struct Case {
        const char* name;
        std::string bytes;
        const char* expected; // part of the box's text
        PromptButtons buttons;
    };
    const Case cases[] = {
        {"short", std::string(1024, '\x5A'),
         "The area is bytes 0x1D0000 to 0x1EFFFF of the image, so the file must be at least 2031616 bytes long; "
         "this file has 1024 bytes.",
         PromptButtons::Ok},
        {"ends inside the area", std::string(0x1E0000, '\x5A'), "this file has 1966080 bytes", PromptButtons::Ok},
        {"blank FF", std::string(0x200000, '\xFF'), "every byte from 0x1D0000 to 0x1EFFFF is FF", PromptButtons::YesNoDefaultNo},
        {"blank 00", std::string(0x200000, '\0'), "every byte from 0x1D0000 to 0x1EFFFF is 00", PromptButtons::YesNoDefaultNo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFileBytes(work / "fw.bin", c.bytes);
        RecordingPrompter asked;
        asked.scriptAnswers({PromptAnswer::No});
        int connections = 0;
        ConnectionSettings settings;
        settings.portName = "/dev/ttyS0";
        settings.modelFamily = kFamilyTavro15;
        FwDownload15DlgDeps deps{asked, clock, profile, log, settings, false, "TAVRO15 - /dev/ttyS0",
                                 [&](const ConnectionSettings&) -> std::unique_ptr<PrinterConnection> {
                                     ++connections;
                                     return nullptr;
                                 },
                                 {}, LegacyDownloadOptions{}};
        CFwDownload15Dlg dlg(deps);
        dlg.onOk();
        EXPECT_FALSE(dlg.running());
        EXPECT_EQ(connections, 0);
        ASSERT_EQ(asked.boxes().size(), 1u);
        EXPECT_NE(asked.boxes()[0].text.find(c.expected), std::string::npos) << asked.boxes()[0].text;
        EXPECT_EQ(asked.boxes()[0].buttons, c.buttons);
        EXPECT_TRUE(ctl<QPushButton>(&dlg, fw15::Ok)->isEnabled());
    }
}

TEST_F(FwDownload15DlgRun, ExitOrClosingDuringABlockedPacketEndsTheDownloadWithoutFreezingTheWindow)
{
    // The fourth packet blocks as a write to a printer that stopped reading does, until the
    // gate opens (at most 10 s).
    auto blocked = std::make_shared<Event>();
    auto gate = std::make_shared<Event>();
    auto written = std::make_shared<std::atomic<int>>(0);
    ConnectionSettings settings;
    settings.portName = "/dev/ttyS0";
    settings.modelFamily = kFamilyTavro15;
    FwDownload15DlgDeps deps{prompter, clock, profile, log, settings, false, "TAVRO15 - /dev/ttyS0",
                             [&](const ConnectionSettings&) -> std::unique_ptr<PrinterConnection> {
                                 auto c = std::make_unique<FakeConnection>(PortKind::Serial, clock);
                                 FakeConnection* raw = c.get();
                                 c->onWrite = [raw, blocked, gate, written](std::span<const std::uint8_t> b, int n) {
                                     if (n == 3) {
                                         blocked->set();
                                         gate->wait(10s);
                                     }
                                     ++*written;
                                     raw->answers.push_back({0x10, 0x06});
                                     return IoResult::done(b.size());
                                 };
                                 return c;
                             },
                             {}, LegacyDownloadOptions{}};
    deps.jobClock = &clock;
    for (bool closeWindow : {false, true}) {
        SCOPED_TRACE(closeWindow ? "the window is destroyed" : "EXIT");
        blocked->reset();
        gate->reset();
        *written = 0;
        prompter.clear();
        auto dlg = std::make_unique<CFwDownload15Dlg>(deps);
        dlg->show();
        dlg->onOk();
        ASSERT_TRUE(QtClock::waitUntil([&] { return blocked->isSet(); }, 10s));
        LoopGapMeter meter;
        // Opened by a timer of the GUI thread: a window that waited for the worker without
        // serving its event loop would sit here for the gate's 10 s.
        QTimer::singleShot(200, [gate] { gate->set(); });
        const auto before = std::chrono::steady_clock::now();
        if (closeWindow) {
            dlg.reset();
        } else {
            dlg->reject();
            EXPECT_EQ(dlg->result(), QDialog::Rejected);
            EXPECT_FALSE(dlg->running());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
        EXPECT_LT(meter.longest(), 1s);
        QTest::qWait(50);
        EXPECT_EQ(written->load(), 4) << "no packet after the blocked one";
        for (const auto& text : prompter.texts())
            EXPECT_NE(text, "COMPLETED");
        if (!closeWindow) {
            // EXIT says what the area holds now: the erase began, three packets were taken.
            ASSERT_FALSE(prompter.texts().empty());
            EXPECT_NE(prompter.texts().back().find("The Program area is incomplete: it was written up to 0x1D0400"),
                      std::string::npos)
                << prompter.texts().back();
        }
    }
}

TEST(FirmwareMenu, FirmwareButtonSetsFunctionThreeAndRunsTheTool)
{
    ConnectionSettings settings;
    settings.portName = "/dev/ttyS0";
    settings.modelFamily = kFamilyTavro15;
    int function = 0, runs = 0;
    MenuDlgDeps deps;
    deps.setFunction = [&](int f) { function = f; };
    deps.runFirmware = [&](QWidget*, const std::string& summary) {
        ++runs;
        EXPECT_EQ(summary.rfind("TAVRO15 - ", 0), 0u);
    };
    CMenuDlg menu(settings, deps);
    auto* button = ctl<QPushButton>(&menu, menudlg::FirmwareDownload);
    ASSERT_TRUE(button->isEnabled());
    EXPECT_FALSE(ctl<QPushButton>(&menu, menudlg::UserSetup)->isEnabled());
    button->click();
    EXPECT_EQ(function, 3);
    EXPECT_EQ(runs, 1);
}
