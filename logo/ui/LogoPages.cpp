#include "logo/ui/LogoPages.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "logo/LogoPrint.h"
#include "logo/LogoSelection.h"
#include "logo/NvUpload.h"
#include "logo/ui/LogoListPanel.h"
#include "logo/ui/LogoPreviewFrame.h"
#include "logo/ui/LogoProgressDlg.h"
#include "qthost/QtBusy.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtGuiCall.h"
#include "qthost/QtStatusLine.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Catalog entries of the pages.
constexpr int kMsgNotSelected = 14;    // "BMP file does not selected."
constexpr int kMsgResetQuestion = 15;  // "Reseting the file. \nContinue it?"
constexpr int kMsgPortOpen = 18;       // "ERROR : Port open."
constexpr int kMsgWriteToPort = 22;    // "ERROR : Write to port."
constexpr int kMsgBadSelection = 25;   // "NV image number is incorrect."
constexpr int kMsgReceiveData = 27;    // "ERROR : Receive data."
constexpr int kMsgComm = 28;           // "ERROR : Comm."


// The last folder Open File used, for the rest of the run.
QString& lastFolder()
{
    static QString folder;
    return folder;
}

template <class W>
W* named(W* w, int id)
{
    w->setObjectName(QString("ctl%1").arg(id));
    return w;
}

QLineEdit* readOnlyBox(int id)
{
    auto* e = named(new QLineEdit, id);
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    return e;
}

// "TAVRO15" for the TAVRO15, "TAVRO" for the others; both boxes "To File" for a file.
void showPrinterDetails(const LogoSheetState& s, QLineEdit* name, QLineEdit* port)
{
    if (logo_link::isFileKind(portKindOf(s.portName))) {
        name->setText("To File");
        port->setText("To File");
        return;
    }
    name->setText(s.family() == kFamilyTavro15 ? "TAVRO15" : "TAVRO");
    port->setText(QString::fromStdString(s.portName));
}

QGroupBox* printerDetails(const LogoSheetState& s, QLineEdit* name, QLineEdit* port)
{
    auto* group = new QGroupBox(s.text("Printer Details", "프린터 정보"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(s.text("Printer Name", "프린터 이름")), 0, 0);
    grid->addWidget(name, 0, 1);
    grid->addWidget(new QLabel(s.text("Port Name", "프린터 포트")), 1, 0);
    grid->addWidget(port, 1, 1);
    return group;
}

// Moves the auto-centre flags of the entries behind a removed one up by one, as the entries
// themselves move.
void dropAutoCenterFlag(LogoOptions& options, int entry)
{
    if (entry < 0 || entry >= LogoOptions::kMaxRows)
        return;
    std::move(options.autoCenter.begin() + entry + 1, options.autoCenter.end(), options.autoCenter.begin() + entry);
    options.autoCenter.back() = false;
}

bool isIntegerIn(const QString& text, int low, int high, int* value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *value = v;
    return true;
}

void refuseRange(const LogoSheetState& s, int low, int high)
{
    const std::string text = s.deps.korean
                                 ? std::to_string(low) + "에서 " + std::to_string(high) + " 사이의 정수를 입력하십시오."
                                 : "Please enter an integer between " + std::to_string(low) + " and " +
                                       std::to_string(high) + ".";
    s.deps.prompter.message(text);
}

} // namespace

// ---- shared state ----------------------------------------------------------------------

LogoSheetState::LogoSheetState(LogoSheetDeps d)
    : deps(std::move(d)), options(LogoOptions::defaults(deps.settings.modelFamily)), list(deps.prompter, options),
      portName(deps.settings.portName)
{
}

ConnectionSettings LogoSheetState::connectionSettings() const
{
    ConnectionSettings s = deps.settings;
    s.portName = portName;
    return s;
}

std::unique_ptr<PrinterConnection> LogoSheetState::connect()
{
    std::unique_ptr<PrinterConnection> c = deps.connect ? deps.connect(connectionSettings()) : nullptr;
    if (!c)
        deps.prompter.message(catalogText(kMsgPortOpen));
    return c;
}

Clock& LogoSheetState::jobClock()
{
    return SystemClock::instance();
}

LogoEngineDeps LogoSheetState::engineDeps(PrinterConnection& connection, Clock& clock, ProgressSink& progress)
{
    return {connection, clock, deps.prompter, deps.errorLog, progress};
}

QString LogoSheetState::text(const char* english, const char* korean) const
{
    return QString::fromUtf8(deps.korean ? korean : english);
}

QString LogoSheetState::label(const char* english, const char* korean, char key) const
{
    return deps.korean ? koreanMnemonic(korean, key) : QString::fromUtf8(english);
}

void LogoSheetState::restore()
{
    list.reset();
    options.autoCenter.fill(false);
    logKeys = list.restoreFromLog(deps.profile);
}

// ---- page 1: Select Bitmap -------------------------------------------------------------

CPage1Selection::CPage1Selection(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage1Selection");
    m_panel = new LogoListPanel(state.list, state.options, state.text("Bitmap List", "비트맵 목록"), state.deps.korean);
    auto* open = named(new QPushButton(state.label("&Open File...", "파일 열기", 'O')), 1016);
    auto* remove = named(new QPushButton(state.label("Re&move", "삭제", 'M')), 1015);
    auto* reset = named(new QPushButton(state.label("&Reset", "초기화", 'R')), 1014);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {open, remove, reset}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    auto* centre = new QGroupBox("Auto Center Align Check");
    auto* centreLayout = new QVBoxLayout(centre);
    auto* hint = new QLabel(" Check the item for automatic center align image.");
    hint->setWordWrap(true);
    centreLayout->addWidget(hint);

    auto* top = new QHBoxLayout;
    top->addWidget(m_panel, 1);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(centre);

    connect(open, &QPushButton::clicked, this, &CPage1Selection::onOpenFile);
    connect(remove, &QPushButton::clicked, this, &CPage1Selection::onRemove);
    connect(reset, &QPushButton::clicked, this, &CPage1Selection::onReset);
}

void CPage1Selection::onSetActive()
{
    m_panel->redraw();
    smallMemoryNotice();
}

void CPage1Selection::smallMemoryNotice()
{
    if (m_state.family() == NvUpload::kSmallNvFamily && m_state.list.usedKB() > NvUpload::kSmallNvKB)
        m_state.deps.prompter.show(NvUpload::kSmallNvNotice, PromptButtons::Ok, PromptIcon::Information, "Notice");
}

void CPage1Selection::onOpenFile()
{
    m_state.list.reuseFailedNumbers();
    QStringList files;
    if (m_state.deps.chooseFiles) {
        files = m_state.deps.chooseFiles(this, lastFolder());
    } else {
        files = QFileDialog::getOpenFileNames(this, QString(), lastFolder(), "Bitmap Files(*.bmp)", nullptr,
                                              QFileDialog::ReadOnly);
    }
    int added = 0;
    for (const QString& file : files) {
        const QString full = QFileInfo(file).absoluteFilePath();
        lastFolder() = QFileInfo(full).absolutePath();
        if (!m_state.list.addFile(full.toStdString(), 0))
            break;
        ++added;
    }
    m_panel->redraw();
    if (added > 0 && m_state.status)
        m_state.status->showDone(m_state.deps.korean ? QString::fromUtf8("%1개 파일을 목록에 추가했습니다.").arg(added)
                                                     : QString("%1 file(s) added to the list").arg(added));
    smallMemoryNotice();
}

void CPage1Selection::onRemove()
{
    const std::vector<int> rows = m_panel->selectedEntries();
    Prompter& prompter = m_state.deps.prompter;
    if (rows.empty()) {
        prompter.message(catalogText(kMsgNotSelected), PromptIcon::Exclamation);
        return;
    }
    if (prompter.show("Remove selected file?", PromptButtons::YesNo, PromptIcon::Question, "Image downloader") !=
        PromptAnswer::Yes)
        return;
    // From the last row to the first, so that the rows still to go keep their places.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (m_state.list.removeNumber(m_state.list.imageNumber(*it)))
            dropAutoCenterFlag(m_state.options, *it);
    }
    m_state.list.setSelectedRow(std::nullopt);
    m_panel->redraw();
}

void CPage1Selection::onReset()
{
    if (!m_state.deps.prompter.ask(catalogText(kMsgResetQuestion), PromptIcon::Question))
        return;
    m_state.restore();
    m_panel->redraw();
}

// ---- page 2: Preview Bitmap ------------------------------------------------------------

CPage2Preview::CPage2Preview(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage2Preview");
    m_panel = new LogoListPanel(state.list, state.options, state.text("Bitmap List", "비트맵 목록"), state.deps.korean);
    m_frame = new LogoPreviewFrame;

    auto* quality = new QGroupBox("Q&uality");
    auto* qualityLayout = new QVBoxLayout(quality);
    m_quality = new QButtonGroup(this);
    struct Choice {
        int id;
        const char* english;
        const char* korean;
        char key;
        LogoPrintMode mode;
    };
    const Choice choices[] = {{1019, "&Normal", "일반", 'N', LogoPrintMode::Normal},
                              {1020, "&Quadraple", "가로2배 / 세로2배", 'Q', LogoPrintMode::Quadruple},
                              {1021, "Double &Height", "세로 2배", 'H', LogoPrintMode::DoubleHeight},
                              {1022, "Double &Width", "가로 2배", 'W', LogoPrintMode::DoubleWidth}};
    for (const Choice& c : choices) {
        auto* radio = named(new QRadioButton(state.label(c.english, c.korean, c.key)), c.id);
        m_quality->addButton(radio, int(c.mode));
        qualityLayout->addWidget(radio);
    }
    m_quality->button(int(LogoPrintMode::Normal))->setChecked(true);

    m_asPrinted = new QCheckBox(state.label("&As printed", "인쇄 모양", 'A'));
    m_asPrinted->setObjectName("asPrinted");
    m_asPrinted->setToolTip(state.text("The dots the printer will print, with the Advanced page's options",
                                       "Advanced 페이지의 설정으로 프린터가 인쇄할 점"));
    qualityLayout->addSpacing(8);
    qualityLayout->addWidget(m_asPrinted);
    qualityLayout->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(m_panel, 1);
    top->addWidget(quality);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_frame, 1);

    connect(m_quality, &QButtonGroup::idClicked, this, &CPage2Preview::refresh);
    connect(m_asPrinted, &QCheckBox::toggled, this, &CPage2Preview::refresh);
    connect(m_panel, &LogoListPanel::selectionChanged, this, &CPage2Preview::refresh);
}

LogoPrintMode CPage2Preview::mode() const { return LogoPrintMode(std::max(0, m_quality->checkedId())); }

void CPage2Preview::onSetActive()
{
    m_panel->redraw();
    refresh();
}

void CPage2Preview::refresh()
{
    const auto row = m_state.list.selectedRow();
    if (!row || *row < 0 || *row >= m_state.list.fileCount()) {
        m_frame->clearPicture();
        return;
    }
    const auto& entry = m_state.list.entries()[std::size_t(*row)];
    m_frame->showPicture(QString::fromStdString(entry.path), mode(), m_asPrinted->isChecked(), m_state.options,
                         m_state.options.autoCenterOf(*row));
}

// ---- page 3: Upload Bitmap -------------------------------------------------------------

CPage3Upload::CPage3Upload(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage3Upload");
    m_panel = new LogoListPanel(state.list, state.options, state.text("Image List", "이미지 목록"), state.deps.korean);
    auto* upload = named(new QPushButton(state.label("&Upload", "전송", 'U')), 1023);
    upload->setAutoDefault(false);
    upload->setMinimumHeight(34);
    m_printerName = readOnlyBox(1077);
    m_portName = readOnlyBox(1076);

    auto* side = new QVBoxLayout;
    side->addWidget(upload);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(m_panel, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(printerDetails(state, m_printerName, m_portName));

    connect(upload, &QPushButton::clicked, this, &CPage3Upload::onUpload);
}

void CPage3Upload::onSetActive()
{
    m_panel->redraw();
    showPrinterDetails(m_state, m_printerName, m_portName);
}

void CPage3Upload::clearPrinter()
{
    auto connection = m_state.connect();
    if (!connection)
        return;
    // The question is asked from the worker; the window keeps painting while the port opens.
    NvClearResult r;
    runOnWorker([&] { r = clearNvLogos(m_state.engineDeps(*connection, m_state.jobClock(), m_state.noProgress())); });
    if (!m_state.status)
        return;
    if (r.outcome == NvClearOutcome::Cleared)
        m_state.status->showDone(m_state.text("The printer's NV bit-image memory is erased",
                                              "프린터의 NV 이미지 메모리를 지웠습니다"));
    else if (r.outcome == NvClearOutcome::Failed)
        m_state.status->showFailure(QString::fromStdString(r.message));
}

void CPage3Upload::onUpload()
{
    BitmapList& list = m_state.list;
    if (list.fileCount() == 0) {
        clearPrinter();
        return;
    }
    auto connection = m_state.connect();
    if (!connection)
        return;
    CProgress progress(m_state.deps.korean, window());
    NvUpload upload(m_state.engineDeps(*connection, m_state.jobClock(), progress),
                    NvUpload::itemsOf(list, m_state.options), m_state.options, m_state.family(),
                    uint64_t(list.totalBytes()), &m_state.deps.profile, m_state.logKeys);
    // The notice, the question, the conversion of every picture, the opening and FS q n, on a
    // worker while this window waits busy (the boxes are asked from there); then the
    // progress window shows the printer's erase and the pictures. The erase is the printer's
    // time: a Cancel during it is heard at once but acted on after it.
    StepResult r;
    {
        QtBusy busy(this, m_state.status, m_state.text("Preparing the pictures", "이미지 준비 중"));
        runOnWorker([&] { r = upload.step(); });
    }
    if (r.kind == StepResult::Kind::Again)
        r = progress.run(upload, r.after, QtStepDriver::FirstWait::KeptOnCancel);

    QtStatusLine* status = m_state.status;
    const QString holds = QString::fromStdString(upload.printerHolds());
    switch (upload.outcome()) {
    case NvUpload::Outcome::Completed:
        m_state.logKeys = upload.pictureCount();
        if (status) {
            if (upload.logWarning().empty())
                status->showDone(m_state.deps.korean
                                     ? QString::fromUtf8("%1개 이미지를 전송했습니다.").arg(upload.pictureCount())
                                     : QString("%1 picture(s) uploaded").arg(upload.pictureCount()));
            else
                status->showFailure(QString::fromStdString("logo log not written: " + upload.logWarning()));
        }
        break;
    case NvUpload::Outcome::Cancelled:
        if (status)
            status->showMessage(m_state.text("Upload cancelled: ", "전송 취소: ") + holds);
        break;
    case NvUpload::Outcome::Failed:
        m_state.deps.errorLog.WriteLog("logo upload: %s", r.message.c_str());
        if (status)
            status->showFailure(QString::fromStdString(r.message) + " — " + holds);
        break;
    case NvUpload::Outcome::Declined:
    case NvUpload::Outcome::Running:
        break;
    }
}

// ---- page 4: Print && Setup ------------------------------------------------------------

CPage4Print::CPage4Print(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage4Print");
    const LogoSheetState& s = state;

    // Range.
    auto* range = new QGroupBox(s.text("Range", "범위"));
    auto* rangeLayout = new QGridLayout(range);
    m_all = named(new QRadioButton(s.text("All", "전체")), 1032);
    m_selection = named(new QRadioButton(s.text("Selection", "선택")), 1033);
    m_selectionText = named(new QLineEdit, 1034);
    m_selectionText->setPlaceholderText("3-5,9");
    m_selectionText->installEventFilter(this);
    m_all->setChecked(true);
    rangeLayout->addWidget(m_all, 0, 0);
    rangeLayout->addWidget(m_selection, 1, 0);
    rangeLayout->addWidget(m_selectionText, 1, 1);
    connect(m_selection, &QRadioButton::clicked, this, [this] { m_selectionText->setFocus(); });

    // Quality: print mode 0..3.
    auto* quality = new QGroupBox("Q&uality");
    auto* qualityLayout = new QVBoxLayout(quality);
    m_quality = new QButtonGroup(this);
    struct Choice {
        int id;
        const char* english;
        const char* korean;
        char key;
    };
    const Choice modes[] = {{1019, "&Normal", "일반", 'N'},
                            {1020, "Double &Width", "가로 2배", 'W'},
                            {1021, "Double &Height", "세로 2배", 'H'},
                            {1022, "&Quadraple", "가로2배 / 세로2배", 'Q'}};
    for (int m = 0; m < 4; ++m) {
        auto* radio = named(new QRadioButton(s.label(modes[m].english, modes[m].korean, modes[m].key)), modes[m].id);
        m_quality->addButton(radio, m);
        qualityLayout->addWidget(radio);
    }
    m_quality->button(0)->setChecked(true);

    // Header.
    auto* header = new QGroupBox(s.label("Hea&der", "제목", 'D'));
    auto* headerLayout = new QVBoxLayout(header);
    m_header = new QButtonGroup(this);
    auto* noHeader = named(new QRadioButton(s.text("No Header", "제목 없음")), 1039);
    auto* addHeader = named(new QRadioButton(s.text("Add Header", "제목 인쇄")), 1040);
    m_header->addButton(noHeader, 0);
    m_header->addButton(addHeader, 1);
    noHeader->setChecked(true);
    headerLayout->addWidget(noHeader);
    headerLayout->addWidget(addHeader);
    headerLayout->addStretch(1);

    m_printerName = readOnlyBox(1072);
    m_portName = readOnlyBox(1073);

    m_print = named(new QPushButton(s.label("&Print", "인쇄", 'P')), 1029);

    // Top and bottom logo.
    auto enableDisable = [this](QButtonGroup*& group, int enableId, int disableId) {
        group = new QButtonGroup(this);
        auto* enable = named(new QRadioButton("Enable"), enableId);
        auto* disable = named(new QRadioButton("Disable"), disableId);
        group->addButton(enable, 1);
        group->addButton(disable, 0);
        disable->setChecked(true);
        auto* row = new QHBoxLayout;
        row->addWidget(enable);
        row->addWidget(disable);
        row->addStretch(1);
        return row;
    };
    auto justify = [](int id) {
        auto* box = named(new QComboBox, id);
        box->addItems({"LEFT", "CENTER", "RIGHT"});
        box->setCurrentIndex(1);
        return box;
    };
    auto number = [](int id, int value) {
        auto* edit = named(new QLineEdit(QString::number(value)), id);
        edit->setMaxLength(3);
        edit->setMaximumWidth(60);
        return edit;
    };
    auto* logos = new QGroupBox(s.text("Top / Bottom Logo", "Top / Bottom Logo"));
    auto* grid = new QGridLayout(logos);
    grid->addWidget(new QLabel("Top Logo"), 0, 0);
    grid->addLayout(enableDisable(m_top, 1115, 1116), 0, 1);
    m_topNumber = number(1118, 1);
    m_topJustify = justify(1126);
    grid->addWidget(m_topNumber, 0, 2);
    grid->addWidget(m_topJustify, 0, 3);
    grid->addWidget(new QLabel("Prints the top logo at power-on"), 1, 0);
    grid->addLayout(enableDisable(m_powerOn, 1120, 1121), 1, 1);
    grid->addWidget(new QLabel("Bottom Logo"), 2, 0);
    grid->addLayout(enableDisable(m_bottom, 1123, 1124), 2, 1);
    m_bottomNumber = number(1125, 2);
    m_bottomJustify = justify(1127);
    grid->addWidget(m_bottomNumber, 2, 2);
    grid->addWidget(m_bottomJustify, 2, 3);
    m_setValues = named(new QPushButton("Set Logo values"), 1036);
    m_test = named(new QPushButton("Test"), 1038);
    auto* logoButtons = new QHBoxLayout;
    logoButtons->addStretch(1);
    logoButtons->addWidget(m_setValues);
    logoButtons->addWidget(m_test);
    grid->addLayout(logoButtons, 3, 0, 1, 4);
    grid->setColumnStretch(4, 1);

    for (QPushButton* b : {m_print, m_setValues, m_test})
        b->setAutoDefault(false);

    auto* printRow = new QHBoxLayout;
    printRow->addWidget(range, 1);
    printRow->addWidget(quality);
    printRow->addWidget(header);
    auto* detailsRow = new QHBoxLayout;
    detailsRow->addWidget(printerDetails(s, m_printerName, m_portName), 1);
    auto* printButton = new QVBoxLayout;
    printButton->addStretch(1);
    printButton->addWidget(m_print);
    detailsRow->addLayout(printButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(printRow);
    layout->addLayout(detailsRow);
    layout->addWidget(logos);
    layout->addStretch(1);

    connect(m_print, &QPushButton::clicked, this, &CPage4Print::onPrint);
    connect(m_setValues, &QPushButton::clicked, this, &CPage4Print::onSetLogoValues);
    connect(m_test, &QPushButton::clicked, this, &CPage4Print::onTest);
}

bool CPage4Print::eventFilter(QObject* watched, QEvent* event)
{
    // Entering the selection edit chooses Selection.
    if (watched == m_selectionText && event->type() == QEvent::FocusIn)
        m_selection->setChecked(true);
    return LogoPage::eventFilter(watched, event);
}

void CPage4Print::onSetActive()
{
    showPrinterDetails(m_state, m_printerName, m_portName);
    // Printing needs a printer that answers: a serial, parallel, USB or network connection.
    const PortKind kind = portKindOf(m_state.portName);
    m_print->setEnabled(kind == PortKind::Serial || kind == PortKind::Parallel || kind == PortKind::Usb ||
                        kind == PortKind::Ethernet);
}

void CPage4Print::onPrint()
{
    LogoPrintRequest request;
    if (m_selection->isChecked()) {
        auto numbers = parseLogoSelection(m_selectionText->text().toStdString());
        if (!numbers) {
            m_state.deps.prompter.message(catalogText(kMsgBadSelection), PromptIcon::Exclamation);
            m_selectionText->setFocus();
            return;
        }
        request.numbers = *numbers;
    }
    request.mode = logo_frames::PrintMode(std::max(0, m_quality->checkedId()));
    request.header = m_header->checkedId() == 1;
    request.starEmulation = m_state.options.starEmulation;
    auto connection = m_state.connect();
    if (!connection)
        return;
    CPrintingDlg printing(m_state.deps.korean, window());
    LogoPrintJob job(m_state.engineDeps(*connection, m_state.jobClock(), printing), request);
    StepResult r = printing.run(job, std::chrono::milliseconds(0));
    if (!m_state.status)
        return;
    switch (job.outcome()) {
    case LogoPrintJob::Outcome::Finished:
        m_state.status->showDone(m_state.deps.korean ? QString::fromUtf8("%1개 이미지를 인쇄했습니다.").arg(job.printed())
                                                     : QString("%1 picture(s) printed").arg(job.printed()));
        break;
    case LogoPrintJob::Outcome::Cancelled:
        m_state.status->showMessage(m_state.deps.korean
                                        ? QString::fromUtf8("인쇄 취소: %1개 인쇄됨").arg(job.printed())
                                        : QString("Printing cancelled after %1 picture(s)").arg(job.printed()));
        break;
    case LogoPrintJob::Outcome::Failed:
    case LogoPrintJob::Outcome::Running:
        m_state.status->showFailure(QString::fromStdString(r.message));
        break;
    }
}

std::optional<logo_frames::LogoSettingsValues> CPage4Print::readSettings()
{
    logo_frames::LogoSettingsValues v;
    if (!isIntegerIn(m_topNumber->text(), 1, 255, &v.topNumber)) {
        refuseRange(m_state, 1, 255);
        m_topNumber->setFocus();
        m_topNumber->selectAll();
        return std::nullopt;
    }
    if (!isIntegerIn(m_bottomNumber->text(), 1, 255, &v.bottomNumber)) {
        refuseRange(m_state, 1, 255);
        m_bottomNumber->setFocus();
        m_bottomNumber->selectAll();
        return std::nullopt;
    }
    v.topEnable = m_top->checkedId() == 1;
    v.topJustify = logo_frames::LogoJustify(std::max(0, m_topJustify->currentIndex()));
    v.powerOn = m_powerOn->checkedId() == 1;
    v.bottomEnable = m_bottom->checkedId() == 1;
    v.bottomJustify = logo_frames::LogoJustify(std::max(0, m_bottomJustify->currentIndex()));
    return v;
}

namespace {

// Set Logo values and Test: one send, then (USB) the printer's restart, with the window busy.
void runLogoAction(LogoSheetState& s, QWidget* page, const QString& busyText,
                   const std::function<LogoActionResult(LogoEngineDeps)>& action, const QString& doneText)
{
    auto connection = s.connect();
    if (!connection)
        return;
    LogoActionResult r;
    {
        QtBusy busy(page, s.status, busyText);
        // The send and the USB printer's restart wait run on a worker; the window paints.
        runOnWorker([&] { r = action(s.engineDeps(*connection, s.jobClock(), s.noProgress())); });
    }
    if (!s.status)
        return;
    if (!r.ok)
        s.status->showFailure(QString::fromStdString(r.message));
    else if (!r.warning.empty())
        s.status->showFailure(doneText + " — " + QString::fromStdString(r.warning));
    else
        s.status->showDone(doneText);
}

} // namespace

void CPage4Print::onSetLogoValues()
{
    auto values = readSettings();
    if (!values)
        return;
    runLogoAction(m_state, this, m_state.text("Sending the logo settings", "로고 설정을 보내는 중"),
                  [&](LogoEngineDeps d) { return sendLogoSettings(d, *values); },
                  m_state.text("Logo settings sent", "로고 설정을 보냈습니다"));
}

void CPage4Print::onTest()
{
    runLogoAction(m_state, this, m_state.text("Printing the sample receipt", "샘플 영수증 인쇄 중"),
                  [](LogoEngineDeps d) { return sendSampleReceipt(d); },
                  m_state.text("Sample receipt sent", "샘플 영수증을 보냈습니다"));
}

// ---- page 5: Advanced ------------------------------------------------------------------

CPage5Setup::CPage5Setup(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage5Setup");
    const LogoSheetState& s = state;
    m_printToFile = named(new QCheckBox(s.text("Print To File", "파일로 출력")), 1064);
    m_gray = named(new QCheckBox(s.text("Use Gray Printing", "농도조절인쇄")), 1020);
    m_star = named(new QCheckBox(s.text("Use Star Emulation", "STAR 에뮬레이션")), 1021);
    m_gray->setEnabled(s.family() != kFamilyTavro15);

    m_maxArea = named(new QLineEdit(QString::number(s.options.maxPrintableArea)), 1066);
    m_maxArea->setValidator(new QIntValidator(0, 999, m_maxArea));
    m_maxArea->setFixedWidth(m_maxArea->fontMetrics().horizontalAdvance("0000") + 16);
    m_maxArea->installEventFilter(this);
    m_slider = named(new QSlider(Qt::Horizontal), 1067);
    m_slider->setRange(0, 255);
    m_slider->setValue(s.options.divergingPoint);
    m_diverging = named(new QLineEdit(QString::number(s.options.divergingPoint)), 1068);
    m_diverging->setValidator(new QIntValidator(0, 255, m_diverging));
    m_diverging->setMaximumWidth(60);

    auto* options = new QGroupBox(s.text("Option Setting", "설정"));
    auto* grid = new QGridLayout(options);
    grid->addWidget(m_printToFile, 0, 0, 1, 3);
    grid->addWidget(m_gray, 1, 0, 1, 3);
    grid->addWidget(m_star, 2, 0, 1, 3);
    grid->addWidget(new QLabel(s.text("Max Printable Area :", "인쇄 가능 영역")), 3, 0);
    grid->addWidget(m_maxArea, 3, 1);
    grid->addWidget(new QLabel("dots(1~512)"), 3, 2);
    grid->addWidget(new QLabel("Black / White diverging point (0~255)"), 4, 0, 1, 3);
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(m_slider, 1);
    sliderRow->addWidget(m_diverging);
    grid->addLayout(sliderRow, 5, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(6, 1);

    auto* device = new QGroupBox(s.text("Device", "프린터 정보"));
    auto* deviceLayout = new QVBoxLayout(device);
    m_device = named(new QLabel(QString::fromStdString(s.deps.summary).replace("\r\n", "\n")), 1018);
    deviceLayout->addWidget(m_device);

    auto* about = named(new QGroupBox(s.text("About", "정보")), 1042);
    auto* aboutLayout = new QVBoxLayout(about);
    aboutLayout->addWidget(new QLabel(s.text("Bitmap Image downloader ", "비트맵 이미지 전송")));

    auto* right = new QVBoxLayout;
    right->addWidget(device);
    right->addWidget(about);
    right->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(options, 1);
    layout->addLayout(right, 1);

    connect(m_printToFile, &QCheckBox::toggled, this, &CPage5Setup::onPrintToFile);
    connect(m_gray, &QCheckBox::toggled, this, &CPage5Setup::onGray);
    connect(m_star, &QCheckBox::toggled, this, [this](bool on) { m_state.options.starEmulation = on; });
    connect(m_slider, &QSlider::valueChanged, this, [this](int v) {
        if (m_diverging->text() != QString::number(v))
            m_diverging->setText(QString::number(v));
        m_state.options.divergingPoint = v;
    });
    connect(m_diverging, &QLineEdit::textChanged, this, [this](const QString& text) {
        int v = 0;
        if (isIntegerIn(text, 0, 255, &v))
            m_slider->setValue(v);
    });
    connect(m_maxArea, &QLineEdit::textChanged, this, [this](const QString& text) {
        int v = 0;
        if (isIntegerIn(text, 1, 576, &v))
            m_state.options.maxPrintableArea = uint32_t(v);
    });
}

bool CPage5Setup::eventFilter(QObject* watched, QEvent* event)
{
    // Entering the printable area selects its whole text.
    if (watched == m_maxArea && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, m_maxArea, [edit = m_maxArea] { edit->selectAll(); });
    return LogoPage::eventFilter(watched, event);
}

void CPage5Setup::onPrintToFile(bool on)
{
    m_state.portName = on ? std::string("FILE") : m_state.deps.settings.portName;
    m_device->setText(on ? QString("FILE") : QString::fromStdString(m_state.deps.summary).replace("\r\n", "\n"));
}

void CPage5Setup::onGray(bool on)
{
    if (on == m_state.options.grayPrinting)
        return;
    m_state.options.grayPrinting = on;
    m_state.list.scaleForGrayPrinting(on);
}

void CPage5Setup::onSetActive()
{
    if (!m_printToFile->isChecked())
        checkPrinter();
    int v = 0;
    if (isIntegerIn(m_maxArea->text(), 1, 576, &v))
        m_state.options.maxPrintableArea = uint32_t(v);
}

// The page's look at the printer: COM, USB and FILE get ESC @ and the printer check (one
// answer byte awaited up to a second), LPT is opened and closed, the network gets nothing.
void CPage5Setup::checkPrinter()
{
    const PortKind kind = portKindOf(m_state.portName);
    if (kind == PortKind::Ethernet)
        return;
    auto connection = m_state.connect();
    if (!connection)
        return;
    Prompter& prompter = m_state.deps.prompter;
    QtBusy busy(this, m_state.status, m_state.text("Looking for the printer", "프린터 확인 중"));
    // Up to a second for the answer, more for a port that does not open: on a worker, so
    // the window paints meanwhile.
    runOnWorker([&] { lookForPrinter(*connection, kind, prompter); });
}

void CPage5Setup::lookForPrinter(PrinterConnection& connection, PortKind kind, Prompter& prompter)
{
    IoResult r = connection.open();
    if (!r.ok()) {
        prompter.message(catalogText(kMsgPortOpen));
        connection.close();
        return;
    }
    if (kind != PortKind::Parallel) {
        r = logo_link::send(connection, logo_frames::initialise());
        if (r.ok())
            r = logo_link::send(connection, logo_frames::printerCheck());
        if (!r.ok()) {
            prompter.message(catalogText(kMsgWriteToPort));
        } else if (connection.canAnswer()) {
            uint8_t answer = 0;
            IoResult read = connection.readFor(std::span<uint8_t>(&answer, 1), std::chrono::milliseconds(1000));
            if (read.outcome() == IoResult::Outcome::HungUp)
                prompter.message(catalogText(kMsgComm));
            else if (!read.ok())
                prompter.message(catalogText(kMsgReceiveData));
        }
    }
    connection.close();
}

bool CPage5Setup::onKillActive()
{
    int area = 0;
    if (!isIntegerIn(m_maxArea->text(), 1, 576, &area)) {
        refuseRange(m_state, 1, 576);
        m_maxArea->setFocus();
        return false;
    }
    int point = 0;
    if (!isIntegerIn(m_diverging->text(), 0, 255, &point)) {
        refuseRange(m_state, 0, 255);
        m_diverging->setFocus();
        return false;
    }
    m_state.options.maxPrintableArea = uint32_t(area);
    m_state.options.divergingPoint = point;
    m_state.options.starEmulation = m_star->isChecked();
    return true;
}
