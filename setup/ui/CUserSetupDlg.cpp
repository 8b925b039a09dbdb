#include "setup/ui/CUserSetupDlg.h"

#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "app/Prompter.h"
#include "app/CErrorLog.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtBusy.h"
#include "qthost/QtClock.h"
#include "qthost/QtGuiCall.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtMessageTarget.h"
#include "qthost/QtStatusLine.h"
#include "port/CPorts.h"
#include "qthost/QtStepDriver.h"
#include "setup/SetupSession.h"
#include "setup/SetupValueCodec.h"
#include "setup/ui/UserSetupBinding.h"
#include "setup/ui/UserSetupForm.h"
#include "setup/ui/UserSetupTexts.h"
#include "setup/ui/UserSetupControls.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QMouseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace UserSetupControls;

namespace {

// The controls a failed read, write or test page leaves disabled: the connection is closed,
// so only EXIT, Default and the right-hand options stay usable.
const std::initializer_list<int> kDisabledAfterFailure = {
    kPaper80mm,          kPaper58mm,         kPaperBlack,           kPaperTwoColor,
    kWaterMarkDisable,   kWaterMarkEnable,   kCutAdjustOff,         kCutAdjustOn,
    kDrawerOnCutDisable, kDrawerOnCutEnable, kGetValueButton,       kSetValueButton,
    kImageNumberEdit,    kLinesEdit,         kTestButton,           kColorDensityCombo,
    kCodePageCombo,      kBellCountCombo,    kNvGraphicCombo,       kNvUserCombo,
    kCutPartial,         kCutFull,           kBoldKoreanOff,        kBoldKoreanOn,
    kSpeedCombo,         kMarginEdit,        kDrawerSelfTestEnable, kDrawerSelfTestDisable,
    kColumnCombo,        kRxBufferCombo,     kBellTypeCombo,        kCustomCodeEdit};

// Hidden for the TAVRO36/38, which has none of these options.
const std::initializer_list<int> kHiddenForTavro36 = {
    kEmulationLabel,   kEmulationEpson, kEmulationStar,    kDensityLabel,     kDensityCombo,
    kKitchenBellLabel, kKitchenBellOff, kKitchenBellOn,    kAutoCutLabel,     kAutoCutOn,
    kAutoCutOff,       kSelfTestLabel,  kSelfTestPrint,    kSelfTestHexDump,  kUsbModeLabel,
    kUsbModeUsb,       kUsbModeCom,     kLcdPasswordLabel, kLcdPasswordReset, kLcdPasswordKeep};

// The label that names a setting the printer is asked for, to tell the user which ones
// did not answer in the words of the form.
int labelOfSetting(int setting)
{
    switch (setting) {
    case 1: return kNvUserLabel;
    case 2: return kNvGraphicLabel;
    case 3: return kPaperWidthLabel;
    case 116: return kPaperTypeLabel;
    case 118: return kPaperTypeLabel;
    case 242: return kWaterMarkLabel;
    case 243: return kCutAdjustLabel;
    case 244: return kDrawerOnCutLabel;
    case 245: return kBellTypeLabel;
    case 246: return kCodePageLabel;
    case 247: return kCutModeLabel;
    case 248: return kBoldKoreanLabel;
    case 249: return kSpeedLabel;
    case 250: return kMarginLabel;
    case 251: return kDrawerSelfTestLabel;
    case 252: return kRxBufferLabel;
    case 253: return kStopBitLabel;
    case 255: return kCustomCodeLabel;
    default: return 0;
    }
}

// Korean keeps the Latin mnemonic letter in brackets after the text.
const std::initializer_list<std::pair<int, char>> kButtonKeys = {
    {kGetValueButton, 'G'}, {kSetValueButton, 'S'}, {kTestButton, 'T'}, {kDefaultButton, 'D'}, {kExitButton, 'X'}};

// Selects the whole text when the edit gets the focus, so a new number replaces the old.
class SelectAllOnFocus final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn)
            if (auto* edit = qobject_cast<QLineEdit*>(watched))
                QTimer::singleShot(0, edit, &QLineEdit::selectAll);
        return false;
    }
};

} // namespace

namespace {

// One action of the session (a read, a write, the test page) as a job of one step, so that
// it runs on a QtStepDriver's worker.
class SessionAction final : public StepJob {
public:
    explicit SessionAction(std::function<void()> work) : m_work(std::move(work)) {}
    StepResult step() override
    {
        m_work();
        return StepResult::finished();
    }

private:
    std::function<void()> m_work;
};

} // namespace

// Marks the dialog busy for the length of a handler (see m_busy).
class BusyScope {
public:
    explicit BusyScope(CUserSetupDlg& dlg) : m_dlg(dlg) { ++m_dlg.m_busy; }
    ~BusyScope() { m_dlg.leaveBusy(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    CUserSetupDlg& m_dlg;
};

void CUserSetupDlg::leaveBusy()
{
    if (--m_busy == 0 && m_closeRequested) {
        m_closeRequested = false;
        if (m_exitRequested)
            QTimer::singleShot(0, this, &CUserSetupDlg::onExit);
        else
            QTimer::singleShot(0, this, &CUserSetupDlg::reject);
    }
}

CUserSetupDlg::CUserSetupDlg(UserSetupDlgDeps deps, QWidget* parent)
    : QDialog(parent), m_deps(std::move(deps))
{
    setObjectName("CUserSetupDlg");
    help::installF1(this, "user-setup");
    setModal(true);
    setMouseTracking(true);
    m_form = new UserSetupForm(this);
    m_form->setMouseTracking(true);
    m_status = new QtStatusLine(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_form, 1);
    layout->addWidget(m_status);

    m_target = std::make_unique<QtMessageTarget>(
        [this](unsigned msg, std::uintptr_t w, std::intptr_t l) { return handleMessage(msg, w, l); });
    // The acknowledgement's ticks run on the driver's worker: a resend to a parallel port
    // whose printer is busy must not stop the window.
    m_ack = new QtStepDriver(this, "lptAck");
    // Read, write and test page run on this one's worker, so a printer that stalls a write
    // leaves the window painting and EXIT working.
    m_job = new QtStepDriver(this, "setupJob");

    connectHandlers();
    openingSequence();
    fitToScreen(*this);
}

QString CUserSetupDlg::text(const char* english, const char* korean) const
{
    return QString::fromUtf8(m_deps.korean ? korean : english);
}

CUserSetupDlg::~CUserSetupDlg()
{
    // Whatever way the dialog went, no worker may be left talking to it.
    closeConnection(false);
}

int CUserSetupDlg::exec()
{
    if (m_openFailed)
        return QDialog::Rejected;
    return QDialog::exec();
}

SetupOptions CUserSetupDlg::options()
{
    SetupOptions o = m_options;
    formToOptions(*m_form, o);
    return o;
}

void CUserSetupDlg::connectHandlers()
{
    auto onClick = [this](int id, auto handler) {
        connect(m_form->radio(id), &QRadioButton::clicked, this, handler);
    };
    connect(m_form->button(kGetValueButton), &QPushButton::clicked, this, &CUserSetupDlg::onGetValue);
    connect(m_form->button(kSetValueButton), &QPushButton::clicked, this, &CUserSetupDlg::onSetValue);
    connect(m_form->button(kTestButton), &QPushButton::clicked, this, &CUserSetupDlg::onTest);
    connect(m_form->button(kDefaultButton), &QPushButton::clicked, this, &CUserSetupDlg::onDefault);
    connect(m_form->button(kExitButton), &QPushButton::clicked, this, &CUserSetupDlg::onExit);

    onClick(kPaper80mm, [this] { m_form->combo(kColumnCombo)->setEnabled(false); });
    onClick(kPaper58mm, [this] {
        m_form->combo(kColumnCombo)->setCurrentIndex(1);
        m_form->combo(kColumnCombo)->setEnabled(true);
    });
    onClick(kPaperBlack, [this] { m_form->combo(kColorDensityCombo)->setEnabled(false); });
    onClick(kPaperTwoColor, [this] { onPaperType2Color(); });
    onClick(kWaterMarkDisable, [this] { m_form->edit(kImageNumberEdit)->setEnabled(false); });
    onClick(kWaterMarkEnable, [this] { onWatermarkEnable(); });
    onClick(kCutAdjustOff, [this] { m_form->edit(kLinesEdit)->setEnabled(false); });
    onClick(kCutAdjustOn, [this] { m_form->edit(kLinesEdit)->setEnabled(true); });
    onClick(kStopBitOne, [this] { m_session->NoteStopBitChosen(); });
    onClick(kStopBitTwo, [this] { m_session->NoteStopBitChosen(); });
    connect(m_form->combo(kNvGraphicCombo), &QComboBox::activated, this, [this] { onNvSizeChange(kNvGraphicCombo); });
    connect(m_form->combo(kNvUserCombo), &QComboBox::activated, this, [this] { onNvSizeChange(kNvUserCombo); });
    connect(m_form->combo(kBellTypeCombo), &QComboBox::currentIndexChanged, this, [this] { updateBellLabel(); });

    auto* selectAll = new SelectAllOnFocus(this);
    m_form->edit(kCustomCodeEdit)->installEventFilter(selectAll);
    m_form->edit(kMarginEdit)->installEventFilter(selectAll);
}

void CUserSetupDlg::fillCombos()
{
    auto fill = [this](int id, auto&& texts) {
        QComboBox* c = m_form->combo(id);
        c->clear();
        for (const char* t : texts)
            c->addItem(QString::fromUtf8(t));
        c->setCurrentIndex(-1);
    };
    fill(kDensityCombo, kDensityLevels);
    fill(kSleepModeCombo, kSleepModes);
    fill(kPaperSaveCombo, kPaperSaveModes);
    fill(kColorDensityCombo, kColorDensities);
    fill(kColumnCombo, kColumnEntries);
    fill(kBellTypeCombo, kBellTypes);

    // Label 1058: the bold Korean font exists only in the Korean firmware.
    if (m_deps.korean) {
        m_form->label(kBoldKoreanLabel)->setText("Bold Korean Font");
    } else {
        m_form->label(kBoldKoreanLabel)->setText("Reserved");
        m_form->setEnabled({kBoldKoreanLabel, kBoldKoreanOff, kBoldKoreanOn}, false);
    }

    fillReceiveBuffer();

    QComboBox* speed = m_form->combo(kSpeedCombo);
    speed->clear();
    for (int s : speedEntries(m_deps.ports.m_ModelFamily))
        speed->addItem(QString::number(s));
    speed->setCurrentIndex(-1);

    QComboBox* codePage = m_form->combo(kCodePageCombo);
    codePage->clear();
    for (const CodePageEntry& e : codePageTable())
        codePage->addItem(e.text);
    codePage->setCurrentIndex(-1);
    for (const auto& [key, value] : codePageProfileKeys())
        (void)m_deps.profile.writeString("USER", key, value);

    for (int id : {kBellCountCombo, kNvGraphicCombo, kNvUserCombo})
        m_form->combo(id)->setCurrentIndex(-1);
}

void CUserSetupDlg::fillReceiveBuffer()
{
    QComboBox* c = m_form->combo(kRxBufferCombo);
    c->clear();
    for (int i = 0;; ++i) {
        std::string value = m_deps.profile.getString("USER", "R_BUF_SZ" + std::to_string(i));
        if (value.empty())
            break;
        c->addItem(QString::fromStdString(value));
    }
    if (c->count() == 0) {
        c->addItems({"64", "32", "20"});
        if (!m_deps.korean)
            c->addItem("4");
        const char* sizes[] = {"64", "32", "20", "4"};
        for (int i = 0; i < 4; ++i)
            (void)m_deps.profile.writeString("USER", "R_BUF_SZ" + std::to_string(i), sizes[i]);
    }
    c->setCurrentIndex(-1);
}

void CUserSetupDlg::applyKoreanCaptions()
{
    if (!m_deps.korean)
        return;
    for (const auto& [id, text] : userSetupKoreanCaptions()) {
        QWidget* w = m_form->control(id);
        if (auto* l = qobject_cast<QLabel*>(w))
            l->setText(QString::fromUtf8(text));
        else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            auto key = std::find_if(kButtonKeys.begin(), kButtonKeys.end(),
                                    [id = id](const auto& k) { return k.first == id; });
            b->setText(key != kButtonKeys.end() ? koreanMnemonic(text, key->second) : QString::fromUtf8(text));
        }
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            g->setTitle(QString::fromUtf8(text));
    }
}

void CUserSetupDlg::applyModelRules()
{
    const ModelFamily family = m_deps.ports.m_ModelFamily;
    if (family == kFamilyTavro36) {
        m_form->setVisible(kHiddenForTavro36, false);
        m_form->setEnabled({kNvGraphicCombo, kNvUserCombo}, false);
        return;
    }
    m_form->setVisible({kPrinterPicture}, false);
    if (family == kFamilyTavro44i) {
        m_form->setEnabled({kKitchenBellOff, kKitchenBellOn, kBellTypeCombo, kBellCountCombo, kSleepModeCombo}, false);
        for (int id : {kBellTypeLabel, kKitchenBellLabel, kUsbModeLabel, kSleepModeLabel}) {
            m_form->label(id)->setText("Reserved");
            m_form->label(id)->setEnabled(false);
        }
        m_form->setEnabled({kUsbModeUsb, kUsbModeCom}, false);
        m_form->setVisible({kWifiKeepLabel, kWifiKeepEnable, kWifiKeepDisable}, false);
    }
}

void CUserSetupDlg::updateBellLabel()
{
    int type = m_form->combo(kBellTypeCombo)->currentIndex();
    // The melodies and the DK2 bell play five times at most; the others ring a count.
    const bool times = type == 0 || type == 4;
    if (times)
        m_form->label(kTimesLabel)->setText(m_deps.korean ? QString::fromUtf8("회") : QString("Times"));
    else
        m_form->label(kTimesLabel)->setText(" / 5");
}

void CUserSetupDlg::refresh()
{
    optionsToForm(m_options, *m_form);
    updateBellLabel();
}

void CUserSetupDlg::applyEnableRules()
{
    m_form->combo(kColumnCombo)->setEnabled(m_options.paperWidth == 1);
    m_form->combo(kColorDensityCombo)->setEnabled(m_options.paperType == 1);
    m_form->edit(kImageNumberEdit)->setEnabled(m_options.watermark == 1);
    m_form->edit(kLinesEdit)->setEnabled(m_options.cutAdjust == 1);
}

void CUserSetupDlg::setActionButtons(bool on)
{
    for (int id : {kGetValueButton, kTestButton, kSetValueButton, kExitButton, kDefaultButton})
        m_form->button(id)->setEnabled(on);
    if (on && m_session && !m_session->GetValueAvailable())
        m_form->button(kGetValueButton)->setEnabled(false);
}

void CUserSetupDlg::disableAfterFailure()
{
    m_options.resetEditsAfterFailure();
    refresh();
    m_form->setEnabled(kDisabledAfterFailure, false);
}

void CUserSetupDlg::onPaperType2Color()
{
    formToOptions(*m_form, m_options);
    if (m_options.watermark == 1) {
        if (m_deps.prompter.show(
                "Water mark print is impossible in Two-color print mode.\nDisable water mark function?",
                PromptButtons::YesNo, PromptIcon::Question, "Notice") == PromptAnswer::Yes) {
            m_options.watermark = 0;
            m_form->setPairValue(kWaterMarkDisable, kWaterMarkEnable, 0);
            m_form->edit(kImageNumberEdit)->setEnabled(false);
        } else {
            m_options.paperType = 0;
            m_form->setPairValue(kPaperBlack, kPaperTwoColor, 0);
            m_form->combo(kColorDensityCombo)->setEnabled(false);
            return;
        }
    }
    m_form->combo(kColorDensityCombo)->setCurrentIndex(1); // MEDIUM
    m_form->combo(kColorDensityCombo)->setEnabled(true);
}

void CUserSetupDlg::onWatermarkEnable()
{
    m_form->edit(kImageNumberEdit)->setEnabled(true);
    if (m_form->pairValue(kPaperBlack, kPaperTwoColor) != 1)
        return;
    if (m_deps.prompter.show("Water mark print is impossible in Two-color print mode.\nSelect One-color mode?",
                             PromptButtons::YesNo, PromptIcon::Question, "Notice") == PromptAnswer::Yes) {
        m_form->setPairValue(kPaperBlack, kPaperTwoColor, 0);
        m_form->combo(kColorDensityCombo)->setEnabled(false);
    } else {
        m_form->setPairValue(kWaterMarkDisable, kWaterMarkEnable, 0);
        m_form->edit(kImageNumberEdit)->setEnabled(false);
    }
}

void CUserSetupDlg::onNvSizeChange(int comboId)
{
    formToOptions(*m_form, m_options);
    if (!checkNvSize(m_options)) {
        m_deps.prompter.message(catalogFormat(Msg::NvMemoryExceeded, kNvMemoryLimitKb));
        (comboId == kNvGraphicCombo ? m_options.nvGraphic : m_options.nvUser) = kNoValue;
    }
    refresh();
}

void CUserSetupDlg::onDefault()
{
    BusyScope busy(*this);
    formToOptions(*m_form, m_options);
    if (!m_session->Default(m_options))
        return;
    refresh();
    m_form->combo(kColorDensityCombo)->setEnabled(false);
    m_form->combo(kColumnCombo)->setEnabled(false);
    m_form->edit(kLinesEdit)->setEnabled(false);
    m_form->edit(kImageNumberEdit)->setEnabled(false);
}

void CUserSetupDlg::mouseMoveEvent(QMouseEvent* event)
{
    // The wait cursor stays over the whole dialog while a parallel-port read runs.
    if (m_waitCursor)
        setCursor(Qt::WaitCursor);
    else if (m_job->running())
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
    QDialog::mouseMoveEvent(event);
}

void CUserSetupDlg::openingSequence()
{
    unsetCursor();
    setWindowTitle("TAVROSet(203dpi) : User Setup");
    m_form->label(kModelArea)->setText(QString::fromStdString(m_deps.summary).replace("\r\n", "\n"));
    m_options = SetupOptions{};

    fillCombos();
    refresh();
    applyEnableRules();

    // The dialog's connection is the one the connection dialog chose; the dialog lends its
    // port object so that the menu sees the port open while the dialog runs.
    m_session = std::make_unique<SetupSession>(
        m_deps.ports.Settings(), ConnectionHost{m_deps.clock, m_deps.prompter, m_deps.errorLog, &m_deps.ports},
        *m_target, m_deps.korean);
    // EXIT and the close box cancel it: a read, a write or an acknowledgement that waits on
    // the printer ends at once.
    m_session->SetCancelToken(&m_cancel);
    // The session's waits for its receive thread must let a value that is being handed to
    // this dialog (a queued call to the GUI thread) arrive, or both would wait for good. The
    // acknowledgement's end waits so on the driver's worker, where the GUI thread is free to
    // take the value and there are no events of its own to serve.
    m_session->SetIdleHook([] {
        // As the Qt clock's waits: input goes on to a busy wait's drop filter, else stays queued.
        if (onGuiThread())
            QCoreApplication::processEvents(QtBusy::active() ? QEventLoop::AllEvents
                                                             : QEventLoop::ExcludeUserInputEvents);
    });
    if (m_session->Open() == SetupSession::OpenResult::Failed) {
        m_openFailed = true;
        closeConnection(false);
        return;
    }
    if (!m_session->GetValueAvailable())
        m_form->button(kGetValueButton)->setEnabled(false);

    applyKoreanCaptions();
    applyModelRules();
    updateBellLabel();
}

bool CUserSetupDlg::lptReadPending() const
{
    return m_ack->running() || m_waitCursor;
}

long CUserSetupDlg::handleMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!m_session)
        return 0;
    if (msg != WM_SETUP_VALUE)
        return 0;
    // Keep what the user typed in the controls that this value does not touch.
    formToOptions(*m_form, m_options);
    m_session->OnSetupValue(m_options, wParam, lParam);
    refresh();
    applyEnableRules();
    BusyScope busy(*this);
    if (wParam == 255 && m_session->Traits().openedPerAction) {
        // The last answer of a network read: the module needs a moment before the next
        // connection, so the buttons that would open one wait.
        // The read's end may come during the pause; the buttons wait for the pause all the same.
        m_form->setEnabled({kDefaultButton, kGetValueButton, kSetValueButton}, false);
        m_codePause = true;
        m_deps.clock.sleep(SetupSession::kEthernetCodePause);
        m_codePause = false;
        if (m_job->running())
            return 1; // the read's end gives the buttons back
        m_form->setEnabled({kDefaultButton, kSetValueButton}, true);
        m_form->button(kGetValueButton)->setEnabled(m_session->GetValueAvailable());
    }
    return 1;
}

void CUserSetupDlg::startJob(const QString& what, std::function<void()> work, std::function<void()> done)
{
    ++m_busy;
    m_buttonsBeforeJob.clear();
    for (int id : {kGetValueButton, kTestButton, kSetValueButton, kExitButton, kDefaultButton})
        m_buttonsBeforeJob.emplace_back(id, m_form->button(id)->isEnabled());
    m_form->setEnabled({kGetValueButton, kTestButton, kSetValueButton, kDefaultButton}, false);
    // EXIT stays usable: it stops what waits on the printer.
    m_form->button(kExitButton)->setEnabled(true);
    if (!m_waitCursor)
        setCursor(Qt::BusyCursor);
    m_status->showBusy(what);
    m_job->start(std::make_unique<SessionAction>(std::move(work)), [this, done = std::move(done)](const StepResult&) {
        for (const auto& [id, on] : m_buttonsBeforeJob)
            m_form->button(id)->setEnabled(on);
        if (!m_waitCursor)
            unsetCursor();
        done();
        if (m_codePause) // handleMessage gives them back when the module's pause is over
            m_form->setEnabled({kDefaultButton, kGetValueButton, kSetValueButton}, false);
        leaveBusy();
    });
}

void CUserSetupDlg::setOptionsEnabled(bool on)
{
    if (auto* area = m_form->findChild<QScrollArea*>("scrollArea"); area && area->widget())
        area->widget()->setEnabled(on);
}

bool CUserSetupDlg::actionRunning() const
{
    return m_busy > 0 || m_job->running() || lptReadPending();
}

void CUserSetupDlg::onGetValue()
{
    if (!m_session || m_job->running())
        return;
    formToOptions(*m_form, m_options);
    m_unanswered.clear();
    SetupSession* session = m_session.get();
    const QString what = text("Reading the settings from the printer...", "프린터 설정을 읽는 중...");
    if (m_session->Traits().statusReports) {
        // The parallel port answers through the acknowledgement timer: the requests go out on
        // the worker, then the acknowledgement's driver takes over.
        m_waitCursor = true;
        setCursor(Qt::WaitCursor);
        auto result = std::make_shared<SetupSession::ReadResult>(SetupSession::ReadResult::Failed);
        startJob(what, [session, result] { *result = session->GetValue(); },
                 [this, result] { lptRequestsSent(*result); });
        return;
    }

    // The answers come in as WM_SETUP_VALUE on this thread while the worker waits for them.
    // A printer that is off, unplugged or gone mid-read must not leave a blank form and no word.
    auto outcome = std::make_shared<SetupReadOutcome>();
    const auto timeout = m_deps.answerTimeout;
    startJob(what, [session, outcome, timeout] { *outcome = session->ReadSetup(timeout); },
             [this, outcome] { presentRead(*outcome); });
}

void CUserSetupDlg::lptRequestsSent(SetupSession::ReadResult result)
{
    // The action buttons stay off until the acknowledgement has every answer; EXIT stays
    // usable: it ends the acknowledgement and leaves.
    setActionButtons(false);
    m_form->button(kExitButton)->setEnabled(true);
    switch (result) {
    case SetupSession::ReadResult::LptStarted:
        if (!m_closeRequested) {
            m_ack->start(m_session->AcknowledgeJob(), [this](const StepResult& r) { lptReadEnded(r); });
            return;
        }
        m_waitCursor = false;
        unsetCursor();
        m_status->clear();
        return;
    case SetupSession::ReadResult::Requested:
        break;
    case SetupSession::ReadResult::Cancelled:
        m_waitCursor = false;
        unsetCursor();
        m_status->clear();
        return;
    case SetupSession::ReadResult::Failed:
        m_waitCursor = false;
        unsetCursor();
        m_status->showFailure(text("Reading the settings failed.", "설정 읽기 실패."));
        setActionButtons(false);
        m_form->setEnabled({kExitButton, kDefaultButton}, true);
        disableAfterFailure();
        return;
    }
    m_waitCursor = false;
    unsetCursor();
    setActionButtons(true);
}

void CUserSetupDlg::presentRead(const SetupReadOutcome& outcome)
{
    switch (outcome.result) {
    case SetupReadOutcome::Result::Cancelled:
        m_status->clear();
        return;
    case SetupReadOutcome::Result::NoAnswer:
        m_status->showMessage(text("The requests went to the output file; a file does not answer.",
                                   "요청을 출력 파일에 썼습니다. 파일은 응답하지 않습니다."));
        return;
    case SetupReadOutcome::Result::Failed:
        if (outcome.messageShown) {
            m_status->showFailure(text("Reading the settings failed.", "설정 읽기 실패."));
            setActionButtons(false);
            m_form->setEnabled({kExitButton, kDefaultButton}, true);
            disableAfterFailure();
            return;
        }
        break; // the printer went away mid-read: name what did not come
    case SetupReadOutcome::Result::Complete:
    case SetupReadOutcome::Result::Incomplete:
        break;
    }
    m_unanswered = outcome.missing;
    if (m_unanswered.empty()) {
        m_status->showDone(text("Settings read from the printer.", "프린터 설정을 읽었습니다."));
        return;
    }
    reportUnanswered(outcome);
}

void CUserSetupDlg::reportUnanswered(const SetupReadOutcome& outcome)
{
    QStringList names;
    std::string numbers;
    for (auto n : m_unanswered) {
        QString name;
        if (QLabel* l = m_form->label(labelOfSetting(n)))
            name = l->text();
        names << (name.isEmpty() ? QString::number(n) : name);
        numbers += (numbers.empty() ? "" : " ") + std::to_string(n);
    }
    const bool none = outcome.nothingAnswered();
    m_deps.errorLog.WriteLog("Get Value: no answer from the printer for setting(s) %s", numbers.c_str());
    // Nothing at all: the catalog's read failure says it. Some answered: they stay in the
    // form, and the message names the others.
    QString message = QString::fromUtf8(catalogText(Msg::ReadFail));
    if (!none)
        message += "\n\n" + text("No answer from the printer for:", "프린터가 응답하지 않은 설정:") + "\n" +
                   names.join(", ");
    m_status->showFailure(none ? text("No answer from the printer.", "프린터 응답 없음.")
                               : text("Some settings did not answer: ", "응답 없는 설정: ") + names.join(", "));
    m_deps.prompter.message(message.toStdString());
}

void CUserSetupDlg::onLptAckTick()
{
    BusyScope busy(*this);
    m_ack->stepNow();
}

void CUserSetupDlg::lptReadEnded(const StepResult& result)
{
    m_waitCursor = false;
    unsetCursor();
    if (result.kind == StepResult::Kind::Finished) {
        setActionButtons(true);
        m_status->showDone(text("Settings read from the printer.", "프린터 설정을 읽었습니다."));
        return;
    }
    // The read cannot finish; EXIT must still let the user leave.
    m_form->button(kExitButton)->setEnabled(true);
    m_status->showFailure(text("Reading the settings failed.", "설정 읽기 실패."));
}

void CUserSetupDlg::onSetValue()
{
    if (!m_session || m_job->running())
        return;
    BusyScope busy(*this);
    if (std::string problem = formToOptions(*m_form, m_options); !problem.empty()) {
        m_deps.prompter.message(problem);
        return;
    }
    setActionButtons(false);
    QString waitText;
    switch (m_session->Traits().restartNotice) {
    case RestartNotice::Printer:
        waitText = text("Writing the settings; the printer restarts (about 4 s)...",
                        "설정 쓰는 중, 프린터가 다시 시작합니다 (약 4초)...");
        break;
    case RestartNotice::UsbPrinter:
        waitText = text("Writing the settings; waiting for the USB printer to restart (about 4 s)...",
                        "설정 쓰는 중, USB 프린터가 다시 시작하기를 기다립니다 (약 4초)...");
        break;
    case RestartNotice::NetworkModule:
        waitText = text("Writing the settings; the network module restarts (about 3 s)...",
                        "설정 쓰는 중, 네트워크 모듈이 다시 시작합니다 (약 3초)...");
        break;
    case RestartNotice::Plain:
        waitText = text("Writing the settings...", "설정 쓰는 중...");
        break;
    }
    // The worker writes a copy of the form; the session's changes to it (a code reset, the
    // edits reset after a failure) come back with the result.
    auto form = std::make_shared<SetupOptions>(m_options);
    auto result = std::make_shared<SetupSession::WriteResult>(SetupSession::WriteResult::Failed);
    SetupSession* session = m_session.get();
    setOptionsEnabled(false);
    startJob(waitText, [session, form, result] { *result = session->SetValue(*form); },
             [this, form, result] {
                 setOptionsEnabled(true);
                 m_options = *form;
                 refresh();
                 writeEnded(*result);
             });
}

void CUserSetupDlg::writeEnded(SetupSession::WriteResult result)
{
    switch (result) {
    case SetupSession::WriteResult::Cancelled:
        m_status->showFailure(
            text("Writing was stopped; the printer may hold some of the values. Read them back.",
                 "쓰기를 멈췄습니다. 프린터에 일부 설정이 저장되었을 수 있습니다. 다시 읽어 보십시오."));
        return;
    case SetupSession::WriteResult::Failed:
        m_status->showFailure(text("Writing the settings failed; check the printer and write again.",
                                   "설정 쓰기 실패. 프린터를 확인하고 다시 쓰십시오."));
        m_form->setEnabled({kExitButton, kDefaultButton}, true);
        disableAfterFailure();
        return;
    case SetupSession::WriteResult::ConnectionClosed:
        afterUsbModeChange();
        return;
    case SetupSession::WriteResult::Nothing:
        m_status->showMessage(text("Nothing to write: no setting has a value yet.",
                                   "쓸 설정이 없습니다."));
        break;
    case SetupSession::WriteResult::Refused:
        m_status->clear();
        break;
    case SetupSession::WriteResult::Written:
        m_status->showDone(text("Settings written to the printer.", "프린터에 설정을 저장했습니다."));
        break;
    case SetupSession::WriteResult::ReopenFailed:
        m_status->showFailure(text("The settings were written, but the USB printer did not come back.",
                                   "설정은 저장했지만 USB 프린터가 다시 연결되지 않았습니다."));
        break;
    }
    setActionButtons(true);
    applyEnableRules();
}

void CUserSetupDlg::afterUsbModeChange()
{
    // The printer took its USB mode and restarted as the other kind of USB device: this
    // connection is gone, and a "Get Value" now would only say "Read Fail". Only the way
    // back to the connection dialog helps.
    m_form->setEnabled({kGetValueButton, kSetValueButton, kTestButton}, false);
    m_form->setEnabled({kExitButton, kDefaultButton}, true);
    m_status->showFailure(text("The printer switched its USB mode; this connection is closed.",
                               "프린터의 USB 동작 모드가 바뀌어 연결이 끊겼습니다."));
    const QString question =
        text("The settings were written. The printer has switched its USB mode and left this connection.\n"
             "Make the connection again in the connection dialog.\n\n"
             "Go back to the connection dialog now?",
             "설정을 저장했습니다. 프린터의 USB 동작 모드가 바뀌어 현재 연결이 끊겼습니다.\n"
             "연결 설정 화면에서 다시 연결하십시오.\n\n"
             "지금 연결 설정 화면으로 돌아가시겠습니까?");
    if (m_deps.prompter.show(question.toStdString(), PromptButtons::YesNo, PromptIcon::Information,
                             kAppDisplayName) != PromptAnswer::Yes)
        return;
    m_backToConnection = true;
    // EXIT once this action is over (the session is still on the stack).
    QTimer::singleShot(0, this, &CUserSetupDlg::onExit);
}

void CUserSetupDlg::onTest()
{
    if (!m_session || m_job->running())
        return;
    formToOptions(*m_form, m_options);
    m_form->setEnabled({kDefaultButton, kGetValueButton, kSetValueButton}, false);
    auto form = std::make_shared<SetupOptions>(m_options);
    auto printed = std::make_shared<SetupSession::TestResult>(SetupSession::TestResult::Failed);
    SetupSession* session = m_session.get();
    setOptionsEnabled(false);
    startJob(text("Printing the test page...", "테스트 페이지 인쇄 중..."),
             [session, form, printed] { *printed = session->PrintTestPage(*form); },
             [this, form, printed] {
                 setOptionsEnabled(true);
                 m_options = *form;
                 testPageEnded(*printed);
             });
}

void CUserSetupDlg::testPageEnded(SetupSession::TestResult printed)
{
    switch (printed) {
    case SetupSession::TestResult::Failed:
        m_status->showFailure(text("The test page could not be sent.", "테스트 페이지를 보내지 못했습니다."));
        m_form->setEnabled({kExitButton, kDefaultButton}, true);
        disableAfterFailure();
        return;
    case SetupSession::TestResult::Cancelled:
        m_status->showFailure(text("The test page was stopped; the printer may have printed part of it.",
                                   "테스트 페이지 인쇄를 멈췄습니다. 일부만 인쇄되었을 수 있습니다."));
        disableAfterFailure();
        return;
    case SetupSession::TestResult::Printed:
        break;
    }
    m_status->showDone(text("Test page sent to the printer.", "테스트 페이지를 프린터로 보냈습니다."));
    m_form->setEnabled({kDefaultButton, kSetValueButton}, true);
    m_form->button(kGetValueButton)->setEnabled(m_session->GetValueAvailable());
}

void CUserSetupDlg::onExit()
{
    if (m_busy) {
        // The action in progress ends at once; EXIT follows when it is over.
        m_cancel.cancel();
        m_closeRequested = true;
        m_exitRequested = true;
        return;
    }
    // An acknowledgement step that waits on the printer ends now.
    m_cancel.cancel();
    m_ack->stop();
    if (m_session)
        m_session->Exit();
    closeConnection(true);
    m_closed = true;
    accept();
}

void CUserSetupDlg::reject()
{
    if (m_busy) {
        m_cancel.cancel();
        m_closeRequested = true;
        return;
    }
    m_cancel.cancel();
    m_ack->stop();
    if (m_session && !m_closed)
        m_session->CloseWindow();
    closeConnection(false);
    m_closed = true;
    QDialog::reject();
}

void CUserSetupDlg::closeConnection(bool)
{
    m_cancel.cancel();
    m_ack->stop();
    // The job's wait on the printer has ended with the token; its end is not shown.
    m_job->stop();
    m_waitCursor = false;
    // Release any worker blocked in a hand-over before waiting for it to end.
    m_target->detach();
    m_session.reset();
}
