// The logo tool's sheet over the logo engines: opening from the logo log, the list's edits,
// the preview geometry and the as-printed view, the Advanced options reaching the bytes, and
// upload, cancel, print and the logo settings against tavro-sim over a serial pty and TCP.
#include "BmpBuilder.h"
#include "GuiTestSupport.h"
#include "RecordingPrompter.h"
#include "SimProcess.h"
#include "TempDir.h"

#include "app/CErrorLog.h"
#include "app/Event.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "RecordingConnection.h"
#include "logo/LogoLog.h"
#include "logo/LogoPicture.h"
#include "logo/LogoPreview.h"
#include "logo/NvUpload.h"
#include "logo/ui/CMyProperty.h"
#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoListPanel.h"
#include "logo/ui/LogoPreviewFrame.h"
#include "logo/ui/LogoProgressDlg.h"
#include "port/PrinterConnection.h"
#include "qthost/QtClock.h"
#include "qthost/QtStatusLine.h"
#include "shell/CMenuDlg.h"
#include "shell/ShellControls.h"

#include <gtest/gtest.h>
#include <map>
#include <QRegularExpression>
#include <QGroupBox>
#include <QLabel>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>

namespace {

using namespace std::chrono_literals;

bool simBuilt() { return std::filesystem::exists(SimProcess::defaultBinary()); }

class LogoSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        selectCatalog(false);
        settings.portName = "/dev/ttyS0";
        settings.baudRate = 115200;
        settings.byteSize = 8;
        settings.parity = 0;
        settings.flowCtrl = 3;
        settings.modelFamily = kFamilyTavro46;
    }
    void TearDown() override { selectCatalog(false); }

    // A 24-bit picture: stripes with a gray band, so that dithering and the diverging point
    // both show in the raster.
    std::string picture(const std::string& name, int w, int h)
    {
        BmpSpec s;
        s.width = w;
        s.height = h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                s.pixels.push_back(y < h / 2 ? (((x / 4 + y / 3) % 2) ? 0xFFFFFF : 0x000000) : 0x909090);
        writeFileBytes(work / name, asString(buildBmp(s)));
        return (work / name).string();
    }

    std::unique_ptr<CMyProperty> make(bool korean = false)
    {
        LogoSheetDeps deps{prompter, clock, profile, log, settings, korean, "TAVRO46/48 S - " + settings.portName,
                           [this](const ConnectionSettings& s) -> std::unique_ptr<PrinterConnection> {
                               ++connections;
                               if (fake)
                                   return std::make_unique<LentConnection>(*fake);
                               return makeConnection(s, ConnectionHost{clock, prompter, log, nullptr});
                           },
                           [this](QWidget*, const QString& folder) {
                               folders.push_back(folder);
                               return nextFiles;
                           }};
        auto sheet = std::make_unique<CMyProperty>(deps);
        sheet->show();
        return sheet;
    }
    template <class W = QWidget>
    W* on(CMyProperty& sheet, CMyProperty::Page page, int id)
    {
        return ctl<W>(sheet.tabs()->widget(int(page)), id);
    }
    QTreeWidget* list(CMyProperty& sheet, CMyProperty::Page page)
    {
        return on<QTreeWidget>(sheet, page, logo_ctl::kList);
    }
    void addFiles(CMyProperty& sheet, QStringList files)
    {
        nextFiles = std::move(files);
        on<QPushButton>(sheet, CMyProperty::kSelection, logo_ctl::kOpenFile)->click();
    }
    // Clicks Upload and answers the progress window with `onProgress` once it is up.
    void upload(CMyProperty& sheet, std::function<void(CProgress&)> onProgress = {})
    {
        if (onProgress)
            whenModal([onProgress](QWidget* w) {
                if (auto* p = qobject_cast<CProgress*>(w))
                    onProgress(*p);
            }, &sheet);
        sheet.showPage(CMyProperty::kUpload);
        on<QPushButton>(sheet, CMyProperty::kUpload, logo_ctl::kUpload)->click();
    }
    // The bytes the upload puts into an output file with the Advanced page's Print To File.
    std::string uploadToFile(CMyProperty& sheet, const std::string& file)
    {
        prompter.setOutputFileName(file);
        sheet.showPage(CMyProperty::kSetup);
        ctl<QCheckBox>(sheet.tabs()->widget(CMyProperty::kSetup), logo_ctl::kPrintToFile)->setChecked(true);
        upload(sheet);
        return readFileBytes(file);
    }
    std::vector<std::string> column(QTreeWidget* tree, int c)
    {
        std::vector<std::string> out;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            out.push_back(tree->topLevelItem(i)->text(c).toStdString());
        return out;
    }

    TempDir work;
    RecordingPrompter prompter;
    QtClock clock;
    CErrorLog log{&clock};
    Profile profile{work / "tavroset.INI"};
    ConnectionSettings settings;
    int connections = 0;
    // When set, every connection the sheet makes is this one.
    std::unique_ptr<RecordingConnection> fake;
    QStringList nextFiles;
    QStringList folders;
};

} // namespace

TEST_F(LogoSheetTest, OpensOnItsFirstTabWithTheLogAndTheModelsDefaults)
{
    const std::string a = picture("a.bmp", 100, 50), b = picture("b.bmp", 40, 24);
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile1", a));
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile2", b));
    auto sheet = make();
    EXPECT_EQ(sheet->windowTitle().toStdString(), "TAVROSet(203dpi) : Zavon Image Logo Setup");
    QTabWidget* tabs = sheet->tabs();
    ASSERT_EQ(tabs->count(), 5);
    EXPECT_EQ(tabs->currentIndex(), 0);
    const char* names[] = {"Select Bitmap", "Preview Bitmap", "Upload Bitmap", "Print && Setup", "Advanced"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tabs->tabText(i).toStdString(), names[i]);
    QTreeWidget* tree = list(*sheet, CMyProperty::kSelection);
    EXPECT_EQ(tree->headerItem()->text(1).toStdString(), "   No.");
    EXPECT_EQ(column(tree, 2), (std::vector<std::string>{"a.bmp", "b.bmp"}));
    EXPECT_EQ(column(tree, 3), (std::vector<std::string>{"728", "120"}));
    EXPECT_EQ(on<QLineEdit>(*sheet, CMyProperty::kSelection, logo_ctl::kCount)->text().toStdString(), "  2 / 255");
    EXPECT_EQ(on<QLineEdit>(*sheet, CMyProperty::kSelection, logo_ctl::kSize)->text().toStdString(), "  1 / 384 KByte");
    EXPECT_EQ(sheet->state().options.maxPrintableArea, 576u);
    EXPECT_EQ(on<QLineEdit>(*sheet, CMyProperty::kSetup, logo_ctl::kMaxPrintableArea)->text(), "576");
    EXPECT_TRUE(on<QCheckBox>(*sheet, CMyProperty::kSetup, logo_ctl::kGrayPrinting)->isEnabled());
    EXPECT_EQ(connections, 0) << "opening the sheet talks to no printer";
    sheet->accept();
    EXPECT_EQ(sheet->state().list.fileCount(), 0) << "closing empties the list";

    // The TAVRO15: 384 dots, no gray printing; Korean captions and list headers.
    settings.modelFamily = kFamilyTavro15;
    auto fifteen = make(true);
    EXPECT_EQ(fifteen->state().options.maxPrintableArea, 384u);
    EXPECT_FALSE(on<QCheckBox>(*fifteen, CMyProperty::kSetup, logo_ctl::kGrayPrinting)->isEnabled());
    EXPECT_EQ(on<QPushButton>(*fifteen, CMyProperty::kSelection, logo_ctl::kOpenFile)->text().toStdString(), "파일 열기(&O)");
    EXPECT_EQ(on<QPushButton>(*fifteen, CMyProperty::kUpload, logo_ctl::kUpload)->text().toStdString(), "전송(&U)");
    EXPECT_EQ(on<QRadioButton>(*fifteen, CMyProperty::kPrint, logo_ctl::kPrintAll)->text().toStdString(), "전체");
    EXPECT_EQ(list(*fifteen, CMyProperty::kUpload)->headerItem()->text(2).toStdString(), "이름");
    fifteen->showPage(CMyProperty::kUpload);
    EXPECT_EQ(on<QLineEdit>(*fifteen, CMyProperty::kUpload, logo_ctl::kUploadPrinterName)->text(), "TAVRO15");
    EXPECT_EQ(on<QLineEdit>(*fifteen, CMyProperty::kUpload, logo_ctl::kUploadPortName)->text(), "/dev/ttyS0");
}

TEST_F(LogoSheetTest, RemoveAndResetAskFirstAndSortingKeepsEachCheckWithItsPicture)
{
    const std::string a = picture("a.bmp", 16, 8), b = picture("b.bmp", 24, 8), c = picture("c.bmp", 32, 8);
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(a), QString::fromStdString(b), QString::fromStdString(c)});
    QTreeWidget* tree = list(*sheet, CMyProperty::kSelection);
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(folders.back(), QString()) << "the first Open File starts nowhere in particular";

    // Name, descending: c, b, a. Checking the first row centres c (entry 2), not entry 0.
    tree->header()->sectionClicked(2);
    tree->header()->sectionClicked(2);
    EXPECT_EQ(column(tree, 2), (std::vector<std::string>{"c.bmp", "b.bmp", "a.bmp"}));
    tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(sheet->state().options.autoCenter[2]);
    EXPECT_FALSE(sheet->state().options.autoCenter[0]);

    // Remove with nothing selected: the message, nothing asked.
    tree->clearSelection();
    on<QPushButton>(*sheet, CMyProperty::kSelection, logo_ctl::kRemove)->click();
    ASSERT_EQ(prompter.boxes().size(), 1u);
    EXPECT_EQ(prompter.boxes()[0].text, "BMP file does not selected.");
    // Remove b after No, then after Yes; c keeps its check in its new place.
    tree->topLevelItem(1)->setSelected(true);
    prompter.scriptAnswers({PromptAnswer::No});
    on<QPushButton>(*sheet, CMyProperty::kSelection, logo_ctl::kRemove)->click();
    EXPECT_EQ(sheet->state().list.fileCount(), 3);
    EXPECT_EQ(prompter.boxes().back().caption, "Image downloader");
    EXPECT_EQ(prompter.boxes().back().text, "Remove selected file?");
    tree->topLevelItem(1)->setSelected(true);
    on<QPushButton>(*sheet, CMyProperty::kSelection, logo_ctl::kRemove)->click();
    EXPECT_EQ(column(tree, 2), (std::vector<std::string>{"c.bmp", "a.bmp"}));
    EXPECT_TRUE(sheet->state().options.autoCenter[1]) << "c moved to entry 1 with its check";
    EXPECT_EQ(tree->topLevelItem(0)->checkState(0), Qt::Checked);
    // A new file takes the freed number 2; the next Open File starts in the last folder.
    addFiles(*sheet, {QString::fromStdString(b)});
    EXPECT_EQ(folders.back().toStdString(), work.path().string());
    EXPECT_EQ(sheet->state().list.entries().back().number, "  2");

    // Reset after Yes: back to the (empty) log.
    prompter.clear();
    on<QPushButton>(*sheet, CMyProperty::kSelection, logo_ctl::kReset)->click();
    EXPECT_EQ(prompter.boxes().at(0).text, "Reseting the file. \nContinue it?");
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_EQ(on<QLineEdit>(*sheet, CMyProperty::kSelection, logo_ctl::kSize)->text().toStdString(), "  0 / 384 KByte");
}

TEST_F(LogoSheetTest, TheSelectedRowIsSharedAndGrayPrintingScalesTheSizesAndBack)
{
    const std::string a = picture("a.bmp", 100, 50), b = picture("b.bmp", 40, 24);
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(a), QString::fromStdString(b)});
    list(*sheet, CMyProperty::kSelection)->topLevelItem(1)->setSelected(true);
    sheet->showPage(CMyProperty::kUpload);
    QTreeWidget* uploadList = list(*sheet, CMyProperty::kUpload);
    ASSERT_EQ(uploadList->selectedItems().size(), 1);
    EXPECT_EQ(uploadList->selectedItems()[0]->text(2), "b.bmp");

    sheet->showPage(CMyProperty::kSetup);
    auto* gray = on<QCheckBox>(*sheet, CMyProperty::kSetup, logo_ctl::kGrayPrinting);
    gray->setChecked(true);
    sheet->showPage(CMyProperty::kUpload);
    EXPECT_EQ(column(uploadList, 3), (std::vector<std::string>{"2912", "480"}));
    EXPECT_EQ(sheet->state().list.totalBytes(), 4 * (728 + 120));
    sheet->showPage(CMyProperty::kSetup);
    gray->setChecked(false);
    sheet->showPage(CMyProperty::kSelection);
    EXPECT_EQ(column(list(*sheet, CMyProperty::kSelection), 3), (std::vector<std::string>{"728", "120"}));
    EXPECT_EQ(sheet->state().list.totalBytes(), 728 + 120);
}

TEST(LogoPreviewGeometry, HalfTheFrameForTheLongerSideDoubledByTheMode)
{
    const QSize frame(400, 200);
    EXPECT_EQ(logoPreviewSize(frame, {50, 50}, LogoPrintMode::Normal), QSize(100, 100));
    EXPECT_EQ(logoPreviewSize(frame, {100, 50}, LogoPrintMode::Normal), QSize(200, 100));
    // Wider, but half the frame's width would make it taller than half the frame's height.
    EXPECT_EQ(logoPreviewSize(frame, {120, 100}, LogoPrintMode::Normal), QSize(120, 100));
    EXPECT_EQ(logoPreviewSize(frame, {50, 100}, LogoPrintMode::Normal), QSize(50, 100));
    EXPECT_EQ(logoPreviewSize(frame, {100, 50}, LogoPrintMode::Quadruple), QSize(400, 200));
    EXPECT_EQ(logoPreviewSize(frame, {100, 50}, LogoPrintMode::DoubleHeight), QSize(200, 200));
    EXPECT_EQ(logoPreviewSize(frame, {100, 50}, LogoPrintMode::DoubleWidth), QSize(400, 100));
    EXPECT_TRUE(logoPreviewSize(frame, {0, 50}, LogoPrintMode::Normal).isEmpty());
    EXPECT_EQ(logoDotZoom({400, 200}, {104, 56}), 3);
    EXPECT_EQ(logoDotZoom({400, 200}, {576, 56}), 1) << "never below one pixel per dot";
}

TEST_F(LogoSheetTest, AsPrintedShowsTheRasterizersDotsWithTheCurrentOptions)
{
    const std::string a = picture("a.bmp", 100, 50);
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(a)});
    list(*sheet, CMyProperty::kSelection)->topLevelItem(0)->setSelected(true);
    sheet->showPage(CMyProperty::kPreview);
    QWidget* page = sheet->tabs()->widget(CMyProperty::kPreview);
    auto* frame = ctl<LogoPreviewFrame>(page, logo_ctl::kPreviewFrame);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->image().size(), QSize(100, 50)) << "the picture itself";
    ctl<QRadioButton>(page, logo_ctl::kPreviewQuadruple)->click();
    EXPECT_EQ(frame->pictureRect().size(), logoPreviewSize(frame->size(), {100, 50}, LogoPrintMode::Quadruple));

    auto dotsOf = [](const QImage& image) {
        std::vector<uint8_t> out;
        for (int y = 0; y < image.height(); ++y)
            out.insert(out.end(), image.constScanLine(y), image.constScanLine(y) + image.width());
        return out;
    };
    auto expected = [&](const LogoOptions& o, bool centre, LogoPrintMode mode) {
        auto raster = rasterizeLogoFile(a, o, centre);
        EXPECT_TRUE(raster.ok());
        return LogoPreview::renderOnPaper(*raster, mode, o.maxPrintableArea, logo_frames::LogoJustify::Left)->pixels;
    };
    page->findChild<QCheckBox*>(logo_ctl::kAsPrinted)->setChecked(true);
    ctl<QRadioButton>(page, logo_ctl::kPreviewNormal)->click();
    LogoOptions o = sheet->state().options;
    EXPECT_EQ(frame->image().size(), QSize(576, 56)) << "the paper, with the picture's rows";
    EXPECT_EQ(frame->placement().printed, 104u);
    EXPECT_EQ(dotsOf(frame->image()), expected(o, false, LogoPrintMode::Normal));

    // The diverging point and centring change what is printed, and the view follows.
    sheet->showPage(CMyProperty::kSetup);
    on<QSlider>(*sheet, CMyProperty::kSetup, logo_ctl::kDivergingSlider)->setValue(30);
    sheet->showPage(CMyProperty::kSelection);
    list(*sheet, CMyProperty::kSelection)->topLevelItem(0)->setCheckState(0, Qt::Checked);
    sheet->showPage(CMyProperty::kPreview);
    o.divergingPoint = 30;
    const auto changed = expected(o, true, LogoPrintMode::Normal);
    EXPECT_NE(changed, expected(LogoOptions{}, false, LogoPrintMode::Normal));
    EXPECT_EQ(frame->placement().printed, 344u) << "centred on 576 dots";
    EXPECT_EQ(dotsOf(frame->image()), changed);
    EXPECT_LE(frame->paperRect().right(), frame->width());
}

TEST_F(LogoSheetTest, GrayStarSliderAndPrintableAreaReachTheUploadedBytes)
{
    const std::string a = picture("a.bmp", 100, 50);
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(a)});
    sheet->showPage(CMyProperty::kSetup);
    QWidget* page = sheet->tabs()->widget(CMyProperty::kSetup);
    auto* slider = ctl<QSlider>(page, logo_ctl::kDivergingSlider);
    auto* edit = ctl<QLineEdit>(page, logo_ctl::kDivergingPoint);
    EXPECT_EQ(slider->value(), 128);
    slider->setValue(200);
    EXPECT_EQ(edit->text(), "200");
    edit->setText("50");
    EXPECT_EQ(slider->value(), 50);
    ctl<QCheckBox>(page, logo_ctl::kStarEmulation)->setChecked(true);

    // The printable area refuses 577 when the page is left, takes 576.
    auto* area = ctl<QLineEdit>(page, logo_ctl::kMaxPrintableArea);
    area->setText("577");
    sheet->showPage(CMyProperty::kUpload);
    EXPECT_EQ(sheet->tabs()->currentIndex(), int(CMyProperty::kSetup));
    EXPECT_EQ(prompter.boxes().back().text, "Please enter an integer between 1 and 576.");
    area->setText("400");

    const std::string bytes = uploadToFile(*sheet, (work / "up.prn").string());
    LogoOptions o;
    o.divergingPoint = 50;
    o.maxPrintableArea = 400;
    auto raster = rasterizeLogoFile(a, o, false);
    ASSERT_TRUE(raster.ok());
    EXPECT_EQ(bytes, std::string("\x1B\x1C\x71\x01", 4) + asString(raster->uploadBytes()));
    EXPECT_NE(raster->raster, rasterizeLogoFile(a, LogoOptions{}, false)->raster) << "50 changes the dots";
    EXPECT_EQ(sheet->state().portName, "FILE");
    sheet->showPage(CMyProperty::kPrint);
    EXPECT_FALSE(on<QPushButton>(*sheet, CMyProperty::kPrint, logo_ctl::kPrint)->isEnabled()) << "no printing into a file";
    EXPECT_EQ(on<QLineEdit>(*sheet, CMyProperty::kPrint, logo_ctl::kPrintPrinterName)->text(), "To File");

    // Gray: A0 in xH and the 4-bit raster.
    sheet->showPage(CMyProperty::kSetup);
    ctl<QCheckBox>(page, logo_ctl::kStarEmulation)->setChecked(false);
    ctl<QCheckBox>(page, logo_ctl::kGrayPrinting)->setChecked(true);
    o.grayPrinting = true;
    auto gray = rasterizeLogoFile(a, o, false);
    ASSERT_TRUE(gray.ok());
    const std::string grayBytes = uploadToFile(*sheet, (work / "gray.prn").string());
    EXPECT_EQ(grayBytes, std::string("\x1C\x71\x01", 3) + asString(gray->uploadBytes()));
    EXPECT_EQ(uint8_t(grayBytes[3]), 0x0D);
    EXPECT_EQ(uint8_t(grayBytes[4]), 0xA0);
}

TEST_F(LogoSheetTest, PrintPageRulesSelectionAndRefusedNumbers)
{
    auto sheet = make();
    sheet->showPage(CMyProperty::kPrint);
    QWidget* page = sheet->tabs()->widget(CMyProperty::kPrint);
    EXPECT_TRUE(ctl<QPushButton>(page, logo_ctl::kPrint)->isEnabled());
    EXPECT_TRUE(ctl<QRadioButton>(page, logo_ctl::kPrintAll)->isChecked());
    EXPECT_TRUE(ctl<QRadioButton>(page, logo_ctl::kTopDisable)->isChecked());
    EXPECT_EQ(ctl<QLineEdit>(page, logo_ctl::kTopNumber)->text(), "1");
    EXPECT_EQ(ctl<QLineEdit>(page, logo_ctl::kBottomNumber)->text(), "2");
    EXPECT_EQ(ctl<QComboBox>(page, logo_ctl::kBottomJustify)->currentText(), "CENTER");

    // Entering the edit chooses Selection.
    sheet->activateWindow();
    ctl<QLineEdit>(page, logo_ctl::kPrintSelectionText)->setFocus();
    QCoreApplication::processEvents();
    EXPECT_TRUE(ctl<QRadioButton>(page, logo_ctl::kPrintSelection)->isChecked());
    ctl<QLineEdit>(page, logo_ctl::kPrintSelectionText)->setText("3,,5");
    ctl<QPushButton>(page, logo_ctl::kPrint)->click();
    ASSERT_FALSE(prompter.boxes().empty());
    EXPECT_EQ(prompter.boxes().back().text, "NV image number is incorrect.");
    EXPECT_EQ(connections, 0) << "a refused selection opens nothing";

    ctl<QLineEdit>(page, logo_ctl::kTopNumber)->setText("256");
    ctl<QPushButton>(page, logo_ctl::kSetLogoValues)->click();
    EXPECT_EQ(prompter.boxes().back().text, "Please enter an integer between 1 and 255.");
    EXPECT_EQ(connections, 0);
}


// ---- Preview Bitmap -------------------------------------------------------------------------

// As printed, the paper is the printable area in every mode: a doubled picture is cut at its
// edge (and says so), the top and bottom logos print in Normal mode where the Print && Setup
// page aligns them, a centred picture with its blank columns included.
TEST_F(LogoSheetTest, PreviewLaysTheDotsOnThePaperAsThePrinterDoesAndMarksWhatIsCutOff)
{
    const std::string a = picture("shop.bmp", 300, 40); // 304 x 40 dots; centred 440 wide
    struct Case {
        LogoPrintMode mode;
        bool centre;
        int printedBy; // CPage2Preview::PrintedBy
        int align;     // Print && Setup's alignment of that logo
        uint32_t left, printed, cut;
        int height;
    };
    const Case cases[] = {
        {LogoPrintMode::Normal, false, CPage2Preview::kByPrint, 1, 0, 304, 0, 40},
        {LogoPrintMode::DoubleWidth, false, CPage2Preview::kByPrint, 1, 0, 576, 32, 40},
        {LogoPrintMode::Quadruple, false, CPage2Preview::kByPrint, 1, 0, 576, 32, 80},
        {LogoPrintMode::DoubleHeight, false, CPage2Preview::kByPrint, 1, 0, 304, 0, 80},
        {LogoPrintMode::Normal, true, CPage2Preview::kByPrint, 1, 0, 440, 0, 40},
        {LogoPrintMode::Normal, true, CPage2Preview::kAsTopLogo, 1, 68, 440, 0, 40},
        {LogoPrintMode::Quadruple, true, CPage2Preview::kAsTopLogo, 0, 0, 440, 0, 40},
        {LogoPrintMode::DoubleWidth, false, CPage2Preview::kAsBottomLogo, 2, 272, 304, 0, 40},
    };
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(a)});
    QTreeWidget* tree = list(*sheet, CMyProperty::kSelection);
    tree->topLevelItem(0)->setSelected(true);
    auto* page = static_cast<CPage2Preview*>(sheet->tabs()->widget(CMyProperty::kPreview));
    LogoPreviewFrame* frame = page->frame();
    for (const Case& c : cases) {
        sheet->showPage(CMyProperty::kSelection);
        tree->topLevelItem(0)->setCheckState(0, c.centre ? Qt::Checked : Qt::Unchecked);
        sheet->showPage(CMyProperty::kPrint);
        on<QComboBox>(*sheet, CMyProperty::kPrint, logo_ctl::kTopJustify)->setCurrentIndex(c.align);
        on<QComboBox>(*sheet, CMyProperty::kPrint, logo_ctl::kBottomJustify)->setCurrentIndex(c.align);
        sheet->showPage(CMyProperty::kPreview);
        page->asPrintedSwitch()->setChecked(true);
        page->printedBy()->setCurrentIndex(c.printedBy);
        QAbstractButton* radio = nullptr;
        for (QAbstractButton* b : page->findChildren<QRadioButton*>())
            if (b->objectName() == controlName(c.mode == LogoPrintMode::Normal         ? logo_ctl::kPreviewNormal
                                               : c.mode == LogoPrintMode::Quadruple    ? logo_ctl::kPreviewQuadruple
                                               : c.mode == LogoPrintMode::DoubleHeight ? logo_ctl::kPreviewDoubleHeight
                                                                                      : logo_ctl::kPreviewDoubleWidth))
                radio = b;
        ASSERT_NE(radio, nullptr);
        radio->setChecked(true);
        page->refresh();
        const std::string at = std::to_string(int(c.mode)) + (c.centre ? " centred" : "") + " by " +
                               std::to_string(c.printedBy) + " align " + std::to_string(c.align);
        EXPECT_EQ(radio->isEnabled(), c.printedBy == CPage2Preview::kByPrint) << at;
        EXPECT_EQ(frame->image().size(), QSize(576, c.height)) << at;
        EXPECT_EQ(frame->placement().left, c.left) << at;
        EXPECT_EQ(frame->placement().printed, c.printed) << at;
        EXPECT_EQ(frame->placement().cut, c.cut) << at;
        EXPECT_EQ(frame->cutNote().isEmpty(), c.cut == 0) << at;
        EXPECT_LE(frame->pictureRect().right(), frame->paperRect().right()) << at;
        // The dots are the rasterizer's, laid where the printer lays them.
        const LogoPrintMode printed = c.printedBy == CPage2Preview::kByPrint ? c.mode : LogoPrintMode::Normal;
        auto raster = rasterizeLogoFile(a, sheet->state().options, c.centre);
        ASSERT_TRUE(raster.ok());
        auto paper = LogoPreview::renderOnPaper(*raster, printed, 576, logo_frames::LogoJustify(
                                                   c.printedBy == CPage2Preview::kByPrint ? 0 : c.align));
        ASSERT_TRUE(paper.ok());
        QImage image = frame->image();
        std::vector<uint8_t> shown;
        for (int y = 0; y < image.height(); ++y)
            shown.insert(shown.end(), image.constScanLine(y), image.constScanLine(y) + image.width());
        EXPECT_EQ(shown, paper->pixels) << at;
    }
}

// ---- Select Bitmap and Upload Bitmap: the status line and the list -------------------------

TEST_F(LogoSheetTest, TheStatusLineTellsOnlyTheLastActionAndTheTicksComeBackWithTheLog)
{
    const std::string a = picture("a.bmp", 100, 50), b = picture("b.bmp", 40, 24);
    writeFileBytes(work / "bad.bmp", "not a picture");
    auto sheet = make();
    QtStatusLine* status = sheet->statusLine();
    addFiles(*sheet, {QString::fromStdString(a), QString::fromStdString(b)});
    EXPECT_EQ(status->text(), "2 file(s) added to the list");
    addFiles(*sheet, {(work / "bad.bmp").c_str()});
    EXPECT_EQ(status->kind(), QtStatusLine::Kind::Failure);
    EXPECT_EQ(status->text().indexOf("added to the list"), -1) << status->text().toStdString();
    EXPECT_NE(status->text().indexOf("bad.bmp was not added"), -1) << status->text().toStdString();

    // An old failure is gone once the next upload is under way.
    list(*sheet, CMyProperty::kSelection)->topLevelItem(1)->setCheckState(0, Qt::Checked);
    status->showFailure("an old failure");
    QString during = "(not seen)";
    prompter.setOutputFileName((work / "up.prn").string());
    sheet->showPage(CMyProperty::kSetup);
    on<QCheckBox>(*sheet, CMyProperty::kSetup, logo_ctl::kPrintToFile)->setChecked(true);
    upload(*sheet, [&](CProgress&) { during = status->text(); });
    EXPECT_EQ(during.indexOf("old failure"), -1) << during.toStdString();
    EXPECT_NE(status->text().indexOf("2 picture(s) uploaded"), -1) << status->text().toStdString();
    EXPECT_EQ(profile.getString("LOGO", LogoLog::kCentredKey), "2");
    sheet->reject();

    // Opened again: the list from the log, b with its tick.
    auto again = make();
    QTreeWidget* tree = list(*again, CMyProperty::kSelection);
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(tree->topLevelItem(1)->checkState(0), Qt::Checked);
    EXPECT_TRUE(again->state().options.autoCenter[1]);
}

// ---- Advanced -------------------------------------------------------------------------------

// Enter in a field ends the entry, not the logo tool; the unit label and the refusal both name
// the model's head width; OK, like a tab, keeps a page whose values are refused.
TEST_F(LogoSheetTest, AdvancedPageKeepsTheToolOnEnterAndTakesTheModelsWidth)
{
    struct Case {
        ModelFamily family;
        const char* unit;
        const char* refusal;
        const char* widest;
    };
    const Case cases[] = {
        {kFamilyTavro46, "dots(1~576)", "Please enter an integer between 1 and 576.", "576"},
        {kFamilyTavro15, "dots(1~384)", "Please enter an integer between 1 and 384.", "384"},
    };
    for (const Case& c : cases) {
        settings.modelFamily = c.family;
        auto sheet = make();
        sheet->showPage(CMyProperty::kSetup);
        QWidget* page = sheet->tabs()->widget(CMyProperty::kSetup);
        EXPECT_EQ(page->findChild<QLabel*>("areaUnit")->text(), c.unit);
        auto* area = ctl<QLineEdit>(page, logo_ctl::kMaxPrintableArea);
        sheet->activateWindow();
        area->setFocus();
        area->setText("700");
        QTest::keyClick(area, Qt::Key_Return);
        QTest::keyClick(area, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(sheet->isVisible()) << "Enter closed the logo tool";
        EXPECT_EQ(sheet->result(), 0);
        sheet->accept();
        EXPECT_TRUE(sheet->isVisible()) << "OK took 700";
        EXPECT_EQ(prompter.boxes().back().text, c.refusal);
        EXPECT_EQ(QApplication::focusWidget() ? QApplication::focusWidget() : sheet->focusWidget(), area);
        area->setText(QString::number(QString(c.widest).toInt() + 1));
        sheet->showPage(CMyProperty::kSelection);
        EXPECT_EQ(sheet->tabs()->currentIndex(), int(CMyProperty::kSetup)) << c.widest << " + 1 was taken";
        area->setText(c.widest);
        sheet->accept();
        EXPECT_FALSE(sheet->isVisible());
        EXPECT_EQ(sheet->state().options.maxPrintableArea, uint32_t(QString(c.widest).toInt()));
    }
}

// Activating the page looks at the printer as its connection allows; each failure has its
// message and nothing else is sent.
TEST_F(LogoSheetTest, AdvancedPageLooksAtThePrinterAndSaysWhatFailed)
{
    using Bytes = std::vector<uint8_t>;
    const Bytes check = {0x1B, 0x40, 0x1D, 0x49, 0x01};
    struct Case {
        const char* name;
        PortKind kind;
        std::function<void(RecordingConnection&)> arrange;
        Bytes sent;
        const char* message; // nullptr: no box
    };
    const Case cases[] = {
        {"serial answers", PortKind::Serial, [](RecordingConnection& c) { c.answer = {0x00}; }, check, nullptr},
        {"usb answers", PortKind::Usb, [](RecordingConnection& c) { c.answer = {0x00}; }, check, nullptr},
        {"parallel is opened and closed", PortKind::Parallel, [](RecordingConnection&) {}, {}, nullptr},
        {"network is left alone", PortKind::Ethernet, [](RecordingConnection&) {}, {}, nullptr},
        {"port does not open", PortKind::Serial, [](RecordingConnection& c) { c.failOpen = true; }, {},
         "ERROR : Port open."},
        {"write fails", PortKind::Serial, [](RecordingConnection& c) { c.hangUpAfter = 0; }, {},
         "ERROR : Write to port."},
        {"no answer", PortKind::Serial,
         [](RecordingConnection& c) { c.readFails = IoResult::timedOut(0, "no answer in 1000 ms"); }, check,
         "ERROR : Receive data."},
        {"hung up while answering", PortKind::Serial,
         [](RecordingConnection& c) { c.readFails = IoResult::hungUp(0, "the printer closed the connection"); },
         check, "ERROR : Comm."},
    };
    for (const Case& c : cases) {
        fake = std::make_unique<RecordingConnection>(c.kind);
        c.arrange(*fake);
        prompter.clear();
        auto sheet = make();
        sheet->showPage(CMyProperty::kSetup);
        EXPECT_EQ(fake->bytes, c.sent) << c.name;
        if (c.message) {
            ASSERT_EQ(prompter.boxes().size(), 1u) << c.name;
            EXPECT_EQ(prompter.boxes()[0].text, c.message) << c.name;
        } else {
            EXPECT_TRUE(prompter.boxes().empty()) << c.name << ": " << prompter.boxes().front().text;
        }
        EXPECT_FALSE(fake->isOpen()) << c.name << ": the port is closed again";
        if (c.kind == PortKind::Ethernet) {
            EXPECT_EQ(std::count(fake->journal.begin(), fake->journal.end(), "open"), 0) << c.name;
        } else if (c.kind == PortKind::Parallel) {
            EXPECT_EQ(fake->journal, (std::vector<std::string>{"open", "close"})) << c.name;
        }
    }
    // Print To File: the page looks at nothing.
    fake = std::make_unique<RecordingConnection>(PortKind::Serial);
    auto sheet = make();
    sheet->showPage(CMyProperty::kSetup);
    on<QCheckBox>(*sheet, CMyProperty::kSetup, logo_ctl::kPrintToFile)->setChecked(true);
    fake->journal.clear();
    sheet->showPage(CMyProperty::kSelection);
    sheet->showPage(CMyProperty::kSetup);
    EXPECT_TRUE(fake->journal.empty()) << fake->journal.front();
}

// ---- Print && Setup -------------------------------------------------------------------------

// The logo numbers are checked as the page is left; the refused field gets the focus back.
TEST_F(LogoSheetTest, PrintPageRefusesToBeLeftWithALogoNumberOutsideItsRange)
{
    struct Case {
        const char* top;
        const char* bottom;
        int refusedField; // 0: the page is left
    };
    const Case cases[] = {{"0", "2", logo_ctl::kTopNumber},
                          {"1", "256", logo_ctl::kBottomNumber},
                          {"x", "2", logo_ctl::kTopNumber},
                          {"700", "700", logo_ctl::kTopNumber},
                          {"255", " 1 ", 0}};
    auto sheet = make();
    sheet->activateWindow();
    QWidget* page = sheet->tabs()->widget(CMyProperty::kPrint);
    for (const Case& c : cases) {
        sheet->showPage(CMyProperty::kPrint);
        prompter.clear();
        ctl<QLineEdit>(page, logo_ctl::kTopNumber)->setText(c.top);
        ctl<QLineEdit>(page, logo_ctl::kBottomNumber)->setText(c.bottom);
        sheet->showPage(CMyProperty::kUpload);
        const std::string at = std::string(c.top) + "/" + c.bottom;
        if (c.refusedField == 0) {
            EXPECT_EQ(sheet->tabs()->currentIndex(), int(CMyProperty::kUpload)) << at;
            EXPECT_TRUE(prompter.boxes().empty()) << at;
            continue;
        }
        EXPECT_EQ(sheet->tabs()->currentIndex(), int(CMyProperty::kPrint)) << at;
        ASSERT_EQ(prompter.boxes().size(), 1u) << at;
        EXPECT_EQ(prompter.boxes()[0].text, "Please enter an integer between 1 and 255.");
        EXPECT_EQ(sheet->focusWidget(), ctl<QLineEdit>(page, c.refusedField)) << at;
    }
    EXPECT_EQ(connections, 0);
}

// Every control of the Top / Bottom Logo block has its own access key, in both languages.
TEST_F(LogoSheetTest, TopAndBottomLogoControlsHaveAccessKeys)
{
    struct Case {
        Qt::Key key;
        int focused;
    };
    const Case cases[] = {
        {Qt::Key_T, logo_ctl::kTopDisable},    {Qt::Key_M, logo_ctl::kTopNumber},
        {Qt::Key_A, logo_ctl::kTopJustify},    {Qt::Key_O, logo_ctl::kPowerOnDisable},
        {Qt::Key_B, logo_ctl::kBottomDisable}, {Qt::Key_R, logo_ctl::kBottomNumber},
        {Qt::Key_G, logo_ctl::kBottomJustify},
    };
    for (bool korean : {false, true}) {
        auto sheet = make(korean);
        sheet->showPage(CMyProperty::kPrint);
        sheet->activateWindow();
        QApplication::setActiveWindow(sheet.get());
        QWidget* page = sheet->tabs()->widget(CMyProperty::kPrint);
        for (const Case& c : cases) {
            QTest::keyClick(sheet.get(), c.key, Qt::AltModifier);
            EXPECT_EQ(sheet->focusWidget(), ctl<QWidget>(page, c.focused)) << "Alt+" << char(c.key) << " korean " << korean;
        }
        // No two controls of the page share a key.
        std::map<QChar, QString> keys;
        for (QWidget* w : page->findChildren<QWidget*>()) {
            QString text;
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                text = b->text();
            else if (auto* l = qobject_cast<QLabel*>(w))
                text = l->text();
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                text = g->title();
            const int amp = text.indexOf('&');
            if (amp < 0 || amp + 1 >= text.size() || text[amp + 1] == '&' || !w->isVisibleTo(page))
                continue;
            const QChar k = text[amp + 1].toUpper();
            EXPECT_EQ(keys.count(k), 0u) << "&" << QString(k).toStdString() << ": " << text.toStdString() << " and "
                                         << keys[k].toStdString();
            keys[k] = text;
        }
        for (int id : {logo_ctl::kSetLogoValues, logo_ctl::kTest})
            EXPECT_NE(ctl<QPushButton>(page, id)->text().indexOf('&'), -1) << id;
    }
}

// ---- Korean ---------------------------------------------------------------------------------

// On a Korean system no caption, label, button, header or choice of the logo tool is left in
// English (names of printers and emulations aside), and its progress lines are Korean.
TEST_F(LogoSheetTest, KoreanSystemShowsEveryLogoToolTextInKorean)
{
    const std::string a = picture("a.bmp", 100, 50);
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile1", a));
    auto sheet = make(true);
    const QRegularExpression latin("[A-Za-z]{2,}");
    const QRegularExpression allowed("TAVRO|STAR|KByte|NV|USB");
    std::vector<std::string> english;
    auto check = [&](const QString& text, const QString& where) {
        QString rest = text;
        rest.remove(allowed);
        rest.remove(QRegularExpression("\\(&[A-Z]\\)"));
        if (rest.contains(latin))
            english.push_back(where.toStdString() + ": " + text.toStdString());
    };
    for (int i = 0; i < sheet->tabs()->count(); ++i) {
        sheet->showPage(CMyProperty::Page(i));
        QWidget* page = sheet->tabs()->widget(i);
        check(sheet->tabs()->tabText(i), "tab");
        for (QWidget* w : page->findChildren<QWidget*>()) {
            const QString where = page->objectName() + "/" + w->objectName();
            if (w->objectName() == controlName(logo_ctl::kDevice))
                continue; // the connection summary
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                check(b->text(), where);
            else if (auto* l = qobject_cast<QLabel*>(w))
                check(l->text(), where);
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                check(g->title(), where);
            else if (auto* t = qobject_cast<QTreeWidget*>(w))
                for (int c = 0; c < t->columnCount(); ++c)
                    check(t->headerItem()->text(c), where + " header");
            else if (auto* box = qobject_cast<QComboBox*>(w))
                for (int k = 0; k < box->count(); ++k)
                    check(box->itemText(k), where + " item");
            if (!w->toolTip().isEmpty())
                check(w->toolTip(), where + " tip");
        }
    }
    EXPECT_TRUE(english.empty()) << [&] {
        std::string all;
        for (const auto& e : english)
            all += "\n  " + e;
        return all;
    }();

    CProgress progress(true);
    struct Line {
        const char* engine;
        const char* shown;
    };
    for (const Line& l : {Line{"Erasing...", "지우는 중..."}, Line{"Updating(512/1024)...a.bmp", "전송 중(512/1024)...a.bmp"},
                          Line{"Printing... 3/255", "인쇄 중... 3/255"}}) {
        progress.report({1, 2, l.engine});
        QCoreApplication::processEvents();
        EXPECT_EQ(progress.statusText().toStdString(), l.shown);
    }
}

// ---- against the virtual printer ----------------------------------------------------------

TEST_F(LogoSheetTest, SerialUploadPrintSettingsAndReceiptReachTheSimulator)
{
    if (!simBuilt())
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--serial", "--family", "6", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    settings.portName = sim.serialPort();
    const std::string a = picture("a.bmp", 100, 50), b = picture("b.bmp", 40, 24), c = picture("c.bmp", 64, 16);
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(a), QString::fromStdString(b), QString::fromStdString(c)});
    QTreeWidget* tree = list(*sheet, CMyProperty::kSelection);
    tree->topLevelItem(1)->setSelected(true);
    on<QPushButton>(*sheet, CMyProperty::kSelection, logo_ctl::kRemove)->click(); // b goes
    tree->topLevelItem(1)->setCheckState(0, Qt::Checked);            // c centred
    prompter.clear();
    upload(*sheet);
    ASSERT_TRUE(sim.waitForEvent("\"stored\"", 10s)) << sheet->statusLine()->text().toStdString();
    EXPECT_EQ(sheet->statusLine()->text(), "2 picture(s) uploaded");
    const auto texts = prompter.texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), catalogText(Msg::NvDefinitionComplete)), texts.end()) << "the completion message";
    LogoOptions o;
    EXPECT_EQ(readFileBytes(sim.stateDir() / "nv" / "1.raw"), asString(rasterizeLogoFile(a, o, false)->raster));
    EXPECT_EQ(readFileBytes(sim.stateDir() / "nv" / "2.raw"), asString(rasterizeLogoFile(c, o, true)->raster));
    EXPECT_EQ(profile.getString("LOGO", "Logofile2"), c);
    EXPECT_EQ(profile.getString("LOGO", "Logofile3"), "");

    sheet->showPage(CMyProperty::kPrint);
    QWidget* page = sheet->tabs()->widget(CMyProperty::kPrint);
    // Top logo 1 left, bottom logo 2 right, then the sample receipt shows them.
    ctl<QRadioButton>(page, logo_ctl::kTopEnable)->click();
    ctl<QComboBox>(page, logo_ctl::kTopJustify)->setCurrentIndex(0);
    ctl<QRadioButton>(page, logo_ctl::kBottomEnable)->click();
    ctl<QComboBox>(page, logo_ctl::kBottomJustify)->setCurrentIndex(2);
    ctl<QPushButton>(page, logo_ctl::kSetLogoValues)->click();
    ASSERT_TRUE(sim.waitForEvent("logo-settings", 5s));
    ctl<QPushButton>(page, logo_ctl::kTest)->click();
    ASSERT_TRUE(sim.waitForEvent("\"receipt\"", 10s));
    std::string receipt;
    for (const auto& e : sim.events())
        if (e.find("\"cmd\":\"receipt\"") != std::string::npos)
            receipt = e;
    EXPECT_NE(receipt.find("\"top:1\""), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("\"bottom:2\""), std::string::npos) << receipt;
    EXPECT_EQ(sheet->statusLine()->text(), "Sample receipt sent");
    // Print the selection "2,1" in Double Height with headers, with the star emulation's
    // prefix from the Advanced page.
    sheet->showPage(CMyProperty::kSetup);
    on<QCheckBox>(*sheet, CMyProperty::kSetup, logo_ctl::kStarEmulation)->setChecked(true);
    sheet->showPage(CMyProperty::kPrint);
    ctl<QRadioButton>(page, logo_ctl::kPrintSelection)->click();
    ctl<QLineEdit>(page, logo_ctl::kPrintSelectionText)->setText("2,1");
    ctl<QRadioButton>(page, logo_ctl::kPrintDoubleHeight)->click();
    ctl<QRadioButton>(page, logo_ctl::kAddHeader)->click();
    ctl<QPushButton>(page, logo_ctl::kPrint)->click();
    ASSERT_TRUE(sim.waitForEvent("nv-print", 5s, 2));
    std::vector<std::string> prints;
    for (const auto& e : sim.events())
        if (e.find("\"cmd\":\"nv-print\"") != std::string::npos)
            prints.push_back(e);
    ASSERT_EQ(prints.size(), 2u);
    EXPECT_NE(prints[0].find("\"n\":2"), std::string::npos) << prints[0];
    EXPECT_NE(prints[0].find("double-height"), std::string::npos) << prints[0];
    EXPECT_NE(prints[1].find("\"n\":1"), std::string::npos) << prints[1];
    EXPECT_NE(prints[0].find("\"star\":true"), std::string::npos) << prints[0];
    EXPECT_EQ(sheet->statusLine()->text(), "2 picture(s) printed");

    for (const auto& e : sim.events())
        EXPECT_EQ(e.find("still erasing"), std::string::npos) << e;
}

TEST_F(LogoSheetTest, CancelDuringTheEraseOverTcpPadsEveryPicture)
{
    if (!simBuilt())
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--tcp", "127.0.0.1:0", "--family", "6", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    settings.portName = "ETHERNET_II";
    settings.host = sim.tcpHost();
    settings.tcpPort = sim.tcpPort();
    const std::string a = picture("a.bmp", 100, 50), b = picture("b.bmp", 40, 24);
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile1", "/old/kept.bmp"));
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(a), QString::fromStdString(b)});
    bool erasing = false;
    std::chrono::steady_clock::time_point cancelledAt{};
    upload(*sheet, [&](CProgress& p) {
        erasing = p.statusText() == "Erasing...";
        cancelledAt = std::chrono::steady_clock::now();
        ctl<QPushButton>(&p, logo_ctl::kProgressCancel)->click();
        EXPECT_EQ(p.statusText(), "Cancelling...");
        EXPECT_FALSE(ctl<QPushButton>(&p, logo_ctl::kProgressCancel)->isEnabled());
    });
    EXPECT_TRUE(erasing) << "Cancel was pressed while the printer erased";
    // The padding waits for the end of the erase the window was showing, and the printer
    // then gets its time to store: the Cancel is heard at once but not acted on early.
    EXPECT_GE(std::chrono::steady_clock::now() - cancelledAt, NvUpload::kCancelWait + 2s);
    // Nothing was sent whole: N - k + 1 = 3 empty pictures complete the definition of 2.
    ASSERT_TRUE(sim.waitForEvent("nv-define", 10s));
    std::string define;
    for (const auto& e : sim.events())
        if (e.find("\"cmd\":\"nv-define\"") != std::string::npos)
            define = e;
    EXPECT_NE(define.find("\"count\":2"), std::string::npos) << define;
    EXPECT_NE(define.find("\"defined\":0"), std::string::npos) << define;
    EXPECT_NE(define.find("cleared"), std::string::npos) << define;
    // The printer holds two empty pictures: the log and the list say it holds nothing.
    EXPECT_EQ(profile.getString("LOGO", "Logofile1"), "") << "the log names what the printer holds";
    EXPECT_EQ(sheet->state().list.fileCount(), 0);
    EXPECT_NE(sheet->statusLine()->text().indexOf("Upload cancelled"), -1) << sheet->statusLine()->text().toStdString();
}

TEST_F(LogoSheetTest, CancelBetweenBlocksFinishesThePictureAndPadsTheRest)
{
    if (!simBuilt())
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--serial", "--family", "6", "--quiet"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    settings.portName = sim.serialPort();
    // 576 x 400: 28800 bytes in 57 blocks, long enough to press Cancel in the middle.
    const std::string big = picture("big.bmp", 576, 400), b = picture("b.bmp", 40, 24), c = picture("c.bmp", 48, 8);
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(big), QString::fromStdString(b), QString::fromStdString(c)});
    std::string statusAtCancel;
    upload(*sheet, [&](CProgress& p) {
        // Once the first picture is under way, a click reaches the button between its blocks:
        // the engine's pauses serve input.
        auto* timer = new QTimer(&p);
        QObject::connect(timer, &QTimer::timeout, &p, [&p, timer, &statusAtCancel] {
            if (!p.statusText().startsWith("Updating(") || p.bar()->value() < 20)
                return;
            timer->stop();
            statusAtCancel = p.statusText().toStdString();
            QTest::mouseClick(ctl<QPushButton>(&p, logo_ctl::kProgressCancel), Qt::LeftButton);
        });
        timer->start(5);
    });
    EXPECT_NE(statusAtCancel.find("big.bmp"), std::string::npos) << statusAtCancel;
    ASSERT_TRUE(sim.waitForEvent("nv-define", 10s));
    std::string define;
    for (const auto& e : sim.events())
        if (e.find("\"cmd\":\"nv-define\"") != std::string::npos)
            define = e;
    EXPECT_NE(define.find("\"count\":3"), std::string::npos) << define;
    EXPECT_NE(define.find("\"defined\":1"), std::string::npos) << define;
    EXPECT_NE(define.find("stored"), std::string::npos) << define;
    EXPECT_EQ(readFileBytes(sim.stateDir() / "nv" / "1.raw"),
              asString(rasterizeLogoFile(big, LogoOptions{}, false)->raster));
    EXPECT_NE(sheet->statusLine()->text().indexOf("pictures 2..3 are empty"), -1)
        << sheet->statusLine()->text().toStdString();
    EXPECT_EQ(LogoLog(profile).read(), std::vector<std::string>{big}) << "the log names what the printer holds";
    EXPECT_EQ(column(list(*sheet, CMyProperty::kUpload), 2), std::vector<std::string>{"big.bmp"});
}

// A printer that stops reading mid-picture: Cancel cannot finish the picture, so once the
// printer has taken nothing for the grace the write is cut, the rest goes out as zeros and
// empty pictures under a short bound, and as the printer takes none of that either, the window
// ends in seconds with what the printer now holds and what to do.
TEST_F(LogoSheetTest, CancelOnAPrinterThatStoppedReadingEndsInSecondsSayingWhatToDo)
{
    if (!simBuilt())
        GTEST_SKIP() << "tavro-sim is not built";
    SimProcess sim({"--serial", "--family", "6", "--quiet", "--stall-after", "12000", "--stall-ms", "30000"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    settings.portName = sim.serialPort();
    const std::string big = picture("big.bmp", 576, 1000);
    auto sheet = make();
    addFiles(*sheet, {QString::fromStdString(big)});
    std::chrono::steady_clock::time_point clicked{};
    upload(*sheet, [&](CProgress& p) {
        // Cancel once the printer has stopped taking the picture (the bar no longer moves).
        auto* timer = new QTimer(&p);
        auto last = std::make_shared<std::pair<int, std::chrono::steady_clock::time_point>>(
            -1, std::chrono::steady_clock::now());
        QObject::connect(timer, &QTimer::timeout, &p, [&p, timer, last, &clicked] {
            const auto now = std::chrono::steady_clock::now();
            if (p.bar()->value() != last->first) {
                *last = {p.bar()->value(), now};
                return;
            }
            if (!p.statusText().startsWith("Updating(") || now - last->second < 500ms)
                return;
            timer->stop();
            clicked = now;
            QTest::mouseClick(ctl<QPushButton>(&p, logo_ctl::kProgressCancel), Qt::LeftButton);
        });
        timer->start(20);
    });
    ASSERT_NE(clicked, std::chrono::steady_clock::time_point{}) << "the upload never stalled";
    // Grace and padding bound are 2 s each; the write without Cancel would run 15 s longer.
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, 9s);
    const std::string status = sheet->statusLine()->text().toStdString();
    EXPECT_NE(status.find("switch the printer off and on, then upload again"), std::string::npos) << status;
}

// ---- the progress windows over a scripted job ---------------------------------------------

namespace {

// Asks for a long wait first (like the printer's erase), then finishes; records the steps.
class WaitingJob final : public StepJob {
public:
    StepResult step() override
    {
        const int n = ++steps;
        if (n == 1)
            return StepResult::again(std::chrono::hours(1));
        cancelledAtStep = cancelRequested ? n : 0;
        if (failWith.empty())
            return StepResult::finished();
        return StepResult::failed(failWith);
    }
    void cancel() override { cancelRequested = true; }
    // Steps run on the window's worker, Cancel comes from the GUI thread.
    std::atomic<int> steps{0};
    std::atomic<int> cancelledAtStep{0};
    std::atomic<bool> cancelRequested{false};
    std::string failWith;
};

} // namespace

TEST(LogoProgressDlg, CancelIsHeardDuringALongWaitAndTheWindowStaysUntilTheJobEnds)
{
    CProgress progress(false);
    WaitingJob job;
    bool watchdog = false;
    // Ends a hung wait so that a fault fails the test instead of blocking it for an hour.
    QTimer::singleShot(30000, &progress, [&] {
        watchdog = true;
        job.cancelRequested = true;
        progress.done(0);
    });
    QTimer::singleShot(50, &progress, [&] {
        progress.report({25600, 51200, "Erasing..."});
        EXPECT_EQ(progress.bar()->maximum(), 512) << "the bar counts hundreds of bytes";
        EXPECT_EQ(progress.bar()->value(), 256);
        EXPECT_EQ(progress.statusText(), "Erasing...");
        progress.reject();
        EXPECT_EQ(progress.statusText(), "Cancelling...");
        // Reports after the Cancel keep saying so.
        progress.report({25600, 51200, "Updating(25600/51200)...a.bmp"});
        EXPECT_EQ(progress.statusText(), "Cancelling...");
    });
    StepResult r = progress.run(job, std::chrono::milliseconds(0));
    EXPECT_FALSE(watchdog) << "Cancel waited for the hour the job asked for";
    EXPECT_EQ(r.kind, StepResult::Kind::Finished);
    EXPECT_EQ(job.cancelledAtStep, 2);
    EXPECT_TRUE(progress.cancelRequested());

    CPrintingDlg printing(true);
    EXPECT_EQ(printing.windowTitle().toStdString(), "인쇄 중");
    WaitingJob failing;
    failing.failWith = "the printer closed the connection";
    QTimer::singleShot(50, &printing, [&] { printing.reject(); });
    r = printing.run(failing, std::chrono::milliseconds(0));
    EXPECT_EQ(r.kind, StepResult::Kind::Failed);
    EXPECT_EQ(r.message, "the printer closed the connection");
}

namespace {

// Reports a picture under way, then blocks in its first step as a write to a printer that
// stopped reading does, until the gate opens (at most 10 s); ends at the next step once
// cancelled.
class StalledJob final : public StepJob {
public:
    StepResult step() override
    {
        if (++steps == 1) {
            progress->report({2000, 10000, "Updating(2000/10000)...big.bmp"});
            entered.set();
            gate.wait(std::chrono::seconds(10));
            return StepResult::again(std::chrono::hours(1));
        }
        return cancelled ? StepResult::finished() : StepResult::again(std::chrono::hours(1));
    }
    void cancel() override { cancelled = true; }
    ProgressSink* progress = nullptr;
    std::atomic<int> steps{0};
    std::atomic<bool> cancelled{false};
    Event entered, gate;
};

} // namespace

TEST(LogoProgressDlg, WhileAStepBlocksTheWindowPaintsCancelIsTakenAtOnceAndTheWindowStaysUntilTheEnd)
{
    CProgress progress(false);
    StalledJob job;
    job.progress = &progress;
    LoopGapMeter meter;
    QString statusBeforeCancel;
    bool clicking = false, cancelTaken = false, visibleAfterCancel = false;
    std::chrono::steady_clock::duration cancelTook{};
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!job.entered.isSet() || clicking)
            return;
        clicking = true;
        {
            QTest::qWait(300); // the step stays blocked meanwhile
            statusBeforeCancel = progress.statusText();
            const auto t0 = std::chrono::steady_clock::now();
            QTest::mouseClick(ctl<QPushButton>(&progress, logo_ctl::kProgressCancel), Qt::LeftButton);
            cancelTook = std::chrono::steady_clock::now() - t0;
            cancelTaken = job.cancelled && progress.statusText() == "Cancelling..." &&
                          !ctl<QPushButton>(&progress, logo_ctl::kProgressCancel)->isEnabled();
            visibleAfterCancel = progress.isVisible();
            job.gate.set();
        }
    });
    watch.start();
    // A fault must fail the test, not hang it.
    QTimer::singleShot(30000, &progress, [&] { progress.done(0); });
    StepResult r = progress.run(job, std::chrono::milliseconds(0));
    EXPECT_EQ(r.kind, StepResult::Kind::Finished);
    EXPECT_EQ(statusBeforeCancel, "Updating(2000/10000)...big.bmp") << "the worker's report reached the window";
    EXPECT_EQ(progress.bar()->value(), 20);
    EXPECT_TRUE(cancelTaken);
    EXPECT_LT(cancelTook, std::chrono::milliseconds(500)) << "Cancel waited for the blocked step";
    EXPECT_TRUE(visibleAfterCancel) << "Cancel closed the window before the job ended";
    EXPECT_EQ(job.steps, 2);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_LT(meter.longest(), std::chrono::seconds(1)) << "the window froze while the step blocked";
}
