#include "setup/ui/CUserSetupDlg.h"

#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "app/Prompter.h"
#include "qthost/QtClock.h"
#include "qthost/QtMessageTarget.h"
#include "port/CPorts.h"
#include "setup/SetupSession.h"
#include "setup/SetupValueCodec.h"
#include "setup/ui/UserSetupBinding.h"
#include "setup/ui/UserSetupForm.h"
#include "setup/ui/UserSetupTexts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The controls a failed read, write or test page leaves disabled: the connection is closed,
// so only EXIT, Default and the right-hand options stay usable.
const std::initializer_list<int> kDisabledAfterFailure = {
    1039, 1037, 1004, 1006, 1009, 1011, 1014, 1016, 1020, 1024, 1032, 1052, 1026, 1029, 1035, 1055,
    1054, 1053, 1056, 1057, 1051, 1061, 1049, 1050, 1062, 1063, 1065, 1066, 1067, 1068, 1069, 1025};

// Hidden for the TAVRO36/38, which has none of these options.
const std::initializer_list<int> kHiddenForTavro36 = {1093, 1094, 1095, 1096, 1047, 1097, 1015,
                                                      1017, 1098, 1030, 1031, 1099, 1022, 1023,
                                                      1101, 1033, 1036, 1106, 1041, 1042};

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

// Marks the dialog busy for the length of an action (see m_busy).
class BusyScope {
public:
    explicit BusyScope(CUserSetupDlg& dlg) : m_dlg(dlg) { ++m_dlg.m_busy; }
    ~BusyScope()
    {
        if (--m_dlg.m_busy == 0 && m_dlg.m_closeRequested) {
            m_dlg.m_closeRequested = false;
            QTimer::singleShot(0, &m_dlg, &CUserSetupDlg::reject);
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    CUserSetupDlg& m_dlg;
};

CUserSetupDlg::CUserSetupDlg(UserSetupDlgDeps deps, QWidget* parent)
    : QDialog(parent), m_deps(std::move(deps))
{
    setObjectName("CUserSetupDlg");
    setModal(true);
    setMouseTracking(true);
    m_form = new UserSetupForm(this);
    m_form->setMouseTracking(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_form);

    m_target = std::make_unique<QtMessageTarget>(
        [this](unsigned msg, std::uintptr_t w, std::intptr_t l) { return handleMessage(msg, w, l); });
    m_ackTimer = new QTimer(this);
    m_ackTimer->setObjectName("lptAckTimer");
    m_ackTimer->setSingleShot(true);
    connect(m_ackTimer, &QTimer::timeout, this, &CUserSetupDlg::onLptAckTick);

    connectHandlers();
    openingSequence();
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
    connect(m_form->button(1032), &QPushButton::clicked, this, &CUserSetupDlg::onGetValue);
    connect(m_form->button(1052), &QPushButton::clicked, this, &CUserSetupDlg::onSetValue);
    connect(m_form->button(1035), &QPushButton::clicked, this, &CUserSetupDlg::onTest);
    connect(m_form->button(1059), &QPushButton::clicked, this, &CUserSetupDlg::onDefault);
    connect(m_form->button(1070), &QPushButton::clicked, this, &CUserSetupDlg::onExit);

    onClick(1039, [this] { m_form->combo(1067)->setEnabled(false); });
    onClick(1037, [this] {
        m_form->combo(1067)->setCurrentIndex(1);
        m_form->combo(1067)->setEnabled(true);
    });
    onClick(1004, [this] { m_form->combo(1055)->setEnabled(false); });
    onClick(1006, [this] { onPaperType2Color(); });
    onClick(1009, [this] { m_form->edit(1026)->setEnabled(false); });
    onClick(1011, [this] { onWatermarkEnable(); });
    onClick(1014, [this] { m_form->edit(1029)->setEnabled(false); });
    onClick(1016, [this] { m_form->edit(1029)->setEnabled(true); });
    onClick(1071, [this] { m_session->NoteStopBitChosen(); });
    onClick(1072, [this] { m_session->NoteStopBitChosen(); });
    connect(m_form->combo(1056), &QComboBox::activated, this, [this] { onNvSizeChange(1056); });
    connect(m_form->combo(1057), &QComboBox::activated, this, [this] { onNvSizeChange(1057); });
    connect(m_form->combo(1069), &QComboBox::currentIndexChanged, this, [this] { updateBellLabel(); });

    auto* selectAll = new SelectAllOnFocus(this);
    m_form->edit(1025)->installEventFilter(selectAll);
    m_form->edit(1063)->installEventFilter(selectAll);
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
    fill(1047, kDensityLevels);
    fill(1048, kSleepModes);
    fill(1090, kPaperSaveModes);
    fill(1055, kColorDensities);
    fill(1067, kColumnEntries);
    fill(1069, kBellTypes);

    // Label 1058: the bold Korean font exists only in the Korean firmware.
    if (m_deps.korean) {
        m_form->label(1058)->setText("Bold Korean Font");
    } else {
        m_form->label(1058)->setText("Reserved");
        m_form->setEnabled({1058, 1049, 1050}, false);
    }

    fillReceiveBuffer();

    QComboBox* speed = m_form->combo(1062);
    speed->clear();
    for (int s : speedEntries(m_deps.ports.m_ModelFamily))
        speed->addItem(QString::number(s));
    speed->setCurrentIndex(-1);

    QComboBox* codePage = m_form->combo(1054);
    codePage->clear();
    for (const CodePageEntry& e : codePageTable())
        codePage->addItem(e.text);
    codePage->setCurrentIndex(-1);
    for (const auto& [key, value] : codePageProfileKeys())
        (void)m_deps.profile.writeString("USER", key, value);

    for (int id : {1053, 1056, 1057})
        m_form->combo(id)->setCurrentIndex(-1);
}

void CUserSetupDlg::fillReceiveBuffer()
{
    QComboBox* c = m_form->combo(1068);
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
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            b->setText(QString::fromUtf8(text));
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            g->setTitle(QString::fromUtf8(text));
    }
}

void CUserSetupDlg::applyModelRules()
{
    const int family = m_deps.ports.m_ModelFamily;
    if (family == kFamilyTavro36) {
        m_form->setVisible(kHiddenForTavro36, false);
        m_form->setEnabled({1056, 1057}, false);
        return;
    }
    m_form->setVisible({1105}, false);
    if (family == kFamilyTavro44i) {
        m_form->setEnabled({1015, 1017, 1069, 1053, 1048}, false);
        for (int id : {1082, 1097, 1101, 1102}) {
            m_form->label(id)->setText("Reserved");
            m_form->label(id)->setEnabled(false);
        }
        m_form->setEnabled({1033, 1036}, false);
        m_form->setVisible({1104, 1038, 1040}, false);
    }
}

void CUserSetupDlg::updateBellLabel()
{
    int type = m_form->combo(1069)->currentIndex();
    // The melodies and the DK2 bell play five times at most; the others ring a count.
    const bool times = type == 0 || type == 4;
    if (times)
        m_form->label(1021)->setText(m_deps.korean ? QString::fromUtf8("회") : QString("Times"));
    else
        m_form->label(1021)->setText(" / 5");
}

void CUserSetupDlg::refresh()
{
    optionsToForm(m_options, *m_form);
    updateBellLabel();
}

void CUserSetupDlg::applyEnableRules()
{
    m_form->combo(1067)->setEnabled(m_options.paperWidth == 1);
    m_form->combo(1055)->setEnabled(m_options.paperType == 1);
    m_form->edit(1026)->setEnabled(m_options.watermark == 1);
    m_form->edit(1029)->setEnabled(m_options.cutAdjust == 1);
}

void CUserSetupDlg::setActionButtons(bool on)
{
    for (int id : {1032, 1035, 1052, 1070, 1059})
        m_form->button(id)->setEnabled(on);
    if (on && m_session && !m_session->GetValueAvailable())
        m_form->button(1032)->setEnabled(false);
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
        if (m_deps.prompter.show("Water mark print is impossible in Two-color print mode.\nDisable water mark function?",
                                 PromptButtons::YesNo, PromptIcon::Question, "Notice") == PromptAnswer::Yes) {
            m_options.watermark = 0;
            m_form->setPairValue(1009, 1011, 0);
            m_form->edit(1026)->setEnabled(false);
        } else {
            m_options.paperType = 0;
            m_form->setPairValue(1004, 1006, 0);
            m_form->combo(1055)->setEnabled(false);
            return;
        }
    }
    m_form->combo(1055)->setCurrentIndex(1); // MEDIUM
    m_form->combo(1055)->setEnabled(true);
}

void CUserSetupDlg::onWatermarkEnable()
{
    m_form->edit(1026)->setEnabled(true);
    if (m_form->pairValue(1004, 1006) != 1)
        return;
    if (m_deps.prompter.show("Water mark print is impossible in Two-color print mode.\nSelect One-color mode?",
                             PromptButtons::YesNo, PromptIcon::Question, "Notice") == PromptAnswer::Yes) {
        m_form->setPairValue(1004, 1006, 0);
        m_form->combo(1055)->setEnabled(false);
    } else {
        m_form->setPairValue(1009, 1011, 0);
        m_form->edit(1026)->setEnabled(false);
    }
}

void CUserSetupDlg::onNvSizeChange(int comboId)
{
    formToOptions(*m_form, m_options);
    if (nvTotalKb(m_options) > kNvMemoryLimitKb) {
        m_deps.prompter.message(catalogFormat(50, kNvMemoryLimitKb));
        (comboId == 1056 ? m_options.nvGraphic : m_options.nvUser) = kNoValue;
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
    m_form->combo(1055)->setEnabled(false);
    m_form->combo(1067)->setEnabled(false);
    m_form->edit(1029)->setEnabled(false);
    m_form->edit(1026)->setEnabled(false);
}

void CUserSetupDlg::mouseMoveEvent(QMouseEvent* event)
{
    // The wait cursor stays over the whole dialog while a parallel-port read runs.
    if (m_waitCursor)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
    QDialog::mouseMoveEvent(event);
}

void CUserSetupDlg::openingSequence()
{
    unsetCursor();
    setWindowTitle("TAVROSet(203dpi) : User Setup");
    m_form->label(1034)->setText(QString::fromStdString(m_deps.summary).replace("\r\n", "\n"));
    m_options = SetupOptions{};

    fillCombos();
    refresh();
    applyEnableRules();

    m_session = std::make_unique<SetupSession>(m_deps.ports, *m_target, m_deps.prompter, m_deps.clock,
                                               m_deps.errorLog, m_deps.korean);
    // The session's waits for its receive thread must let a value that is being handed to
    // this dialog (a queued call to the GUI thread) arrive, or both would wait for good.
    m_session->SetIdleHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    if (m_session->Open() == SetupSession::OpenResult::Failed) {
        m_openFailed = true;
        closeConnection(false);
        return;
    }
    if (!m_session->GetValueAvailable())
        m_form->button(1032)->setEnabled(false);

    applyKoreanCaptions();
    applyModelRules();
    updateBellLabel();
}

bool CUserSetupDlg::lptReadPending() const
{
    return m_ackTimer->isActive() || m_waitCursor;
}

long CUserSetupDlg::handleMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!m_session)
        return 0;
    if (msg == WM_RECEIVE_NOTIFY)
        return m_session->OnReceiveNotify();
    if (msg != WM_SETUP_VALUE)
        return 0;
    // Keep what the user typed in the controls that this value does not touch.
    formToOptions(*m_form, m_options);
    m_session->OnSetupValue(m_options, wParam, lParam);
    refresh();
    applyEnableRules();
    BusyScope busy(*this);
    if (wParam == 255 && m_session->Kind() == PortKind::Ethernet) {
        // The last answer of a network read: the module needs a moment before the next
        // connection, so the buttons that would open one wait.
        m_form->setEnabled({1059, 1032, 1052}, false);
        m_deps.clock.sleep(SetupSession::kEthernetCodePause);
        m_form->setEnabled({1059, 1052}, true);
        m_form->button(1032)->setEnabled(m_session->GetValueAvailable());
    }
    return 1;
}

void CUserSetupDlg::onGetValue()
{
    BusyScope busy(*this);
    if (!m_session)
        return;
    formToOptions(*m_form, m_options);
    const bool lpt = m_session->Kind() == PortKind::Parallel;
    if (lpt) {
        setActionButtons(false);
        m_waitCursor = true;
        setCursor(Qt::WaitCursor);
    }
    switch (m_session->GetValue()) {
    case SetupSession::ReadResult::Requested:
        break;
    case SetupSession::ReadResult::LptStarted:
        m_ackTimer->start(static_cast<int>(LptAcknowledge::kFirstInterval.count()));
        return;
    case SetupSession::ReadResult::Failed:
        m_waitCursor = false;
        unsetCursor();
        setActionButtons(false);
        m_form->setEnabled({1070, 1059}, true);
        disableAfterFailure();
        return;
    }
}

void CUserSetupDlg::onLptAckTick()
{
    BusyScope busy(*this);
    m_ackTimer->stop();
    auto result = m_session->LptAckTick();
    switch (result.kind) {
    case SetupSession::AckTickResult::Kind::Rearm:
        m_ackTimer->start(static_cast<int>(result.interval.count()));
        return;
    case SetupSession::AckTickResult::Kind::Finished:
        m_waitCursor = false;
        unsetCursor();
        setActionButtons(true);
        return;
    case SetupSession::AckTickResult::Kind::Failed:
        // The read cannot finish; EXIT must still let the user leave.
        m_waitCursor = false;
        unsetCursor();
        m_form->button(1070)->setEnabled(true);
        return;
    }
}

void CUserSetupDlg::onSetValue()
{
    BusyScope busy(*this);
    if (!m_session)
        return;
    if (std::string problem = formToOptions(*m_form, m_options); !problem.empty()) {
        m_deps.prompter.message(problem);
        return;
    }
    setActionButtons(false);
    auto result = m_session->SetValue(m_options);
    refresh();
    switch (result) {
    case SetupSession::WriteResult::Failed:
        m_form->setEnabled({1070, 1059}, true);
        disableAfterFailure();
        return;
    case SetupSession::WriteResult::Nothing:
    case SetupSession::WriteResult::Refused:
    case SetupSession::WriteResult::Written:
    case SetupSession::WriteResult::ConnectionClosed:
    case SetupSession::WriteResult::ReopenFailed:
        setActionButtons(true);
        applyEnableRules();
        return;
    }
}

void CUserSetupDlg::onTest()
{
    BusyScope busy(*this);
    if (!m_session)
        return;
    formToOptions(*m_form, m_options);
    m_form->setEnabled({1059, 1032, 1052}, false);
    if (m_session->PrintTestPage(m_options) == SetupSession::TestResult::Failed) {
        m_form->setEnabled({1070, 1059}, true);
        disableAfterFailure();
        return;
    }
    m_form->setEnabled({1059, 1052}, true);
    m_form->button(1032)->setEnabled(m_session->GetValueAvailable());
}

void CUserSetupDlg::onExit()
{
    if (m_busy) {
        m_closeRequested = true;
        return;
    }
    m_ackTimer->stop();
    if (m_session)
        m_session->Exit();
    closeConnection(true);
    m_closed = true;
    accept();
}

void CUserSetupDlg::reject()
{
    if (m_busy) {
        m_closeRequested = true;
        return;
    }
    m_ackTimer->stop();
    if (m_session && !m_closed)
        m_session->CloseWindow();
    closeConnection(false);
    m_closed = true;
    QDialog::reject();
}

void CUserSetupDlg::closeConnection(bool)
{
    m_ackTimer->stop();
    m_waitCursor = false;
    // Release any worker blocked in a hand-over before waiting for it to end.
    m_target->detach();
    m_session.reset();
}
