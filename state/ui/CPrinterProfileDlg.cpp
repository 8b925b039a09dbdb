#include "state/ui/CPrinterProfileDlg.h"

#include "app/Clock.h"
#include "app/StepJob.h"
#include "common/FileIo.h"
#include "port/PrinterConnection.h"
#include "qthost/AppIcon.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtControlName.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtProgressSink.h"
#include "qthost/QtStepDriver.h"
#include "state/StateFile.h"
#include "state/StateRecord.h"

#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using namespace profiledlg;

// What one job hands back to the GUI thread: written by the worker, read by `done` after
// the worker has let the job go.
struct CPrinterProfileDlg::Job {
    std::string error;                // one line; empty: the job did what it was asked
    bool refused = false;             // Open: the profile itself was refused, nothing was sent
    std::optional<DesiredState> state; // Open: the profile as checked
    std::vector<StateChange> changes;  // Open: the plan
    StateApplyResult result;           // Apply
};

namespace {

// One job of the dialog as a step job of one step, so that it runs on the driver's worker
// thread. Cancel (the driver's or the window's) cancels the token every wait of it watches.
class WorkerJob final : public StepJob {
public:
    WorkerJob(std::function<void()> work, CancelToken& token) : m_work(std::move(work)), m_token(token) {}
    StepResult step() override
    {
        m_work();
        return StepResult::finished();
    }
    void cancel() override { m_token.cancel(); }

private:
    std::function<void()> m_work;
    CancelToken& m_token;
};

// The part of an apply's error before the first ": ", the step it failed at ("settings",
// "logos", "firmware.program", "plan").
std::pair<std::string, std::string> splitStep(const std::string& error)
{
    const auto colon = error.find(": ");
    if (colon == std::string::npos)
        return {std::string(), error};
    return {error.substr(0, colon), error.substr(colon + 2)};
}

std::string withExtension(std::string file)
{
    if (std::filesystem::path(file).extension().empty())
        file += ".yaml";
    return file;
}

std::filesystem::path recordPathOr(const std::filesystem::path& given)
{
    return given.empty() ? StateRecord::defaultPath() : given;
}

} // namespace

CPrinterProfileDlg::CPrinterProfileDlg(PrinterProfileDlgDeps deps, QWidget* parent)
    : QDialog(parent), m_deps(std::move(deps))
{
    setObjectName("CPrinterProfileDlg");
    setModal(true);
    setWindowIcon(appIcon());
    setWindowTitle(kTitle);
    help::installF1(this, "printer-profile");
    const bool ko = m_deps.korean;

    m_summary = new QLabel(QString::fromStdString(m_deps.summary).replace("\r\n", "\n"));
    m_summary->setObjectName(controlName(Summary));
    m_summary->setFrameShape(QFrame::StyledPanel);
    m_summary->setMargin(6);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto button = [ko](int id, const char* english, const char* korean, char key) {
        auto* b = new QPushButton(ko ? koreanMnemonic(korean, key) : QString::fromUtf8(english));
        b->setObjectName(controlName(id));
        b->setAutoDefault(false);
        return b;
    };
    m_save = button(Save, "&Save...", "저장...", 'S');
    m_save->setToolTip(text("Save this printer's profile to a file", "이 프린터의 프로필을 파일로 저장"));
    m_open = button(Open, "&Apply...", "적용...", 'A');
    m_open->setToolTip(text("Open a profile and show what it would change on this printer",
                            "프로필을 열고 이 프린터에서 바뀔 항목 보기"));
    m_apply = button(Apply, "Apply &Changes", "변경 적용", 'C');
    m_cancelButton = button(Cancel, "Cance&l", "취소", 'L');
    m_close = button(Close, "Cl&ose", "닫기", 'O');

    m_file = new QLabel;
    m_file->setObjectName(controlName(ProfileFile));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_file->setWordWrap(true);

    m_table = new QTableWidget(0, ColumnCount);
    m_table->setObjectName(controlName(Plan));
    m_table->setHorizontalHeaderLabels({text("Item", "항목"), text("Now", "현재"), text("Then", "적용 후"),
                                        text("Source", "기준"), text("Result", "결과")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Wide enough for every column of a plan with logo settings and its result, on a 910-pixel screen.
    m_table->setMinimumSize(820, 180);

    m_planSummary = new QLabel;
    m_planSummary->setObjectName(controlName(PlanSummary));
    m_bar = new QProgressBar;
    m_bar->setObjectName(controlName(Progress));
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_message = new QLabel;
    m_message->setObjectName(controlName(Message));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* top = new QHBoxLayout;
    top->addWidget(m_save);
    top->addWidget(m_open);
    top->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_apply);
    bottom->addStretch(1);
    bottom->addWidget(m_cancelButton);
    bottom->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addLayout(top);
    layout->addWidget(m_file);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_planSummary);
    layout->addWidget(m_bar);
    layout->addWidget(m_message);
    layout->addLayout(bottom);

    m_driver = new QtStepDriver(this, "profileJob");
    m_sink = std::make_unique<QtProgressSink>(
        this, [this](const ProgressReport& r) { showProgress(r.done, r.total); });
    connect(m_save, &QPushButton::clicked, this, &CPrinterProfileDlg::onSave);
    connect(m_open, &QPushButton::clicked, this, &CPrinterProfileDlg::onOpen);
    connect(m_apply, &QPushButton::clicked, this, &CPrinterProfileDlg::onApply);
    connect(m_cancelButton, &QPushButton::clicked, this, &CPrinterProfileDlg::onCancel);
    connect(m_close, &QPushButton::clicked, this, &CPrinterProfileDlg::reject);
    setIdleButtons();
    showMessage(text("Save this printer's profile, or apply a saved one to it.",
                     "이 프린터의 프로필을 저장하거나, 저장한 프로필을 이 프린터에 적용하십시오."),
                false);
    fitToScreen(*this);
}

CPrinterProfileDlg::~CPrinterProfileDlg()
{
    // No worker may be left talking to a window that is gone.
    m_cancel.cancel();
    m_driver->stop();
}

QString CPrinterProfileDlg::text(const char* english, const char* korean) const
{
    return QString::fromUtf8(m_deps.korean ? korean : english);
}

// The engine's words for a value, in the window's language.
QString CPrinterProfileDlg::shown(const std::string& engineText) const
{
    const QString t = QString::fromStdString(engineText);
    if (!m_deps.korean)
        return t;
    if (engineText == "none")
        return QString::fromUtf8("없음");
    if (engineText == "download")
        return QString::fromUtf8("다운로드");
    if (t.startsWith("upload ")) {
        const QString count = t.section(' ', 1, 1);
        return QString::fromUtf8("그림 %1개 업로드").arg(count);
    }
    if (t.startsWith("digest "))
        return QString::fromUtf8("다이제스트 ") + t.mid(7);
    return t;
}

bool CPrinterProfileDlg::jobRunning() const
{
    return m_driver->running();
}

QString CPrinterProfileDlg::planSummary() const
{
    return m_planSummary->text();
}

QString CPrinterProfileDlg::message() const
{
    return m_message->text();
}

void CPrinterProfileDlg::showMessage(const QString& text, bool failure)
{
    m_message->setText(text);
    m_message->setStyleSheet(failure ? "color: #b00000;" : QString());
}

void CPrinterProfileDlg::setIdleButtons()
{
    m_save->setEnabled(true);
    m_open->setEnabled(true);
    const bool planned = m_state && std::any_of(m_rowStates.begin(), m_rowStates.end(),
                                                [](RowState s) { return s == RowState::Planned; });
    m_apply->setEnabled(planned);
    m_cancelButton->setEnabled(false);
    m_close->setEnabled(true);
}

StateDeps CPrinterProfileDlg::stateDeps()
{
    // The engines wait on the worker with a plain clock; the window's own clock serves the
    // GUI thread's event loop and is not for a worker.
    Clock& clock = SystemClock::instance();
    const ConnectionHost host{clock, m_deps.prompter, m_deps.errorLog, m_deps.observer, m_deps.roots};
    const auto stall = m_deps.stallLimit;
    CancelToken* cancel = &m_cancel;
    StateDeps deps{m_deps.settings,
                   host,
                   [host, stall, cancel](const ConnectionSettings& s) -> std::unique_ptr<PrinterConnection> {
                       auto connection = makeConnection(s, host);
                       if (!connection)
                           return nullptr;
                       connection->setStallLimit(stall);
                       // Cancel ends a write the printer does not take, at once.
                       connection->setCancelToken(cancel);
                       return connection;
                   },
                   clock,
                   m_deps.prompter,
                   m_deps.errorLog,
                   *m_sink,
                   &m_cancel};
    deps.stallLimit = m_deps.stallLimit;
    deps.readTimeout = m_deps.readTimeout;
    return deps;
}

void CPrinterProfileDlg::startJob(const QString& what, std::function<void(Job&)> work, std::function<void(Job&)> done)
{
    m_cancel.reset();
    m_job = std::make_shared<Job>();
    m_save->setEnabled(false);
    m_open->setEnabled(false);
    m_apply->setEnabled(false);
    m_close->setEnabled(false);
    m_cancelButton->setEnabled(true);
    m_cancelButton->setFocus();
    setCursor(Qt::BusyCursor);
    showMessage(what, false);
    auto job = m_job;
    m_driver->start(std::make_unique<WorkerJob>([job, work = std::move(work)] { work(*job); }, m_cancel),
                    [this, job, done = std::move(done)](const StepResult&) {
                        unsetCursor();
                        done(*job);
                        if (m_job == job)
                            m_job.reset();
                        setIdleButtons();
                    });
}

void CPrinterProfileDlg::onCancel()
{
    if (!jobRunning())
        return;
    // Heard at once: the token ends what waits on the printer; the window says so and stays
    // until the job has ended, to tell what the printer holds.
    m_cancel.cancel();
    m_driver->cancel();
    m_cancelButton->setEnabled(false);
    showMessage(text("Cancelling...", "취소하는 중..."), false);
}

void CPrinterProfileDlg::reject()
{
    if (jobRunning()) {
        onCancel();
        return;
    }
    QDialog::reject();
}

void CPrinterProfileDlg::onSave()
{
    if (jobRunning())
        return;
    auto choose = m_deps.chooseSaveFile;
    if (!choose)
        choose = [this](QWidget* parent, const std::string& name) {
        return QFileDialog::getSaveFileName(parent, text("Save Printer Profile", "프린터 프로필 저장"),
                                            QString::fromStdString(name),
                                            text("Printer profile (*.yaml *.yml)", "프린터 프로필 (*.yaml *.yml)"))
            .toStdString();
    };
    const std::string chosen = choose(this, kSuggestedName);
    if (chosen.empty())
        return;
    const std::string file = withExtension(chosen);
    const std::filesystem::path record = recordPathOr(m_deps.recordFile);
    const std::string identity = printerIdentity(m_deps.settings);
    startJob(
        text("Reading the printer...", "프린터를 읽는 중..."),
        [this, file, record, identity](Job& job) {
            auto opened = StateRecord::open(record);
            if (!opened) {
                job.error = opened.message();
                return;
            }
            StateEngine engine(stateDeps(), opened->get(), identity);
            auto captured = engine.capture();
            if (!captured) {
                job.error = captured.message();
                return;
            }
            // The whole file or none: a temporary renamed over it.
            if (FileOutcome written = writeFileAtomically(file, *captured); !written)
                job.error = written.message;
        },
        [this, file](Job& job) {
            const QString name = QString::fromStdString(file);
            if (job.error.empty()) {
                m_file->setText(text("Profile: %1", "프로필: %1").arg(name));
                showMessage(text("Saved the printer's profile to %1.", "프린터 프로필을 %1에 저장했습니다.").arg(name),
                            false);
            } else {
                showMessage(text("The profile was not saved (no file was written): %1",
                                 "프로필을 저장하지 못했습니다 (파일을 쓰지 않았습니다): %1")
                                .arg(QString::fromStdString(job.error)),
                            true);
            }
        });
}

void CPrinterProfileDlg::onOpen()
{
    if (jobRunning())
        return;
    auto choose = m_deps.chooseOpenFile;
    if (!choose)
        choose = [this](QWidget* parent) {
        return QFileDialog::getOpenFileName(parent, text("Apply Printer Profile", "프린터 프로필 적용"), QString(),
                                            text("Printer profile (*.yaml *.yml *.json);;All files (*)",
                                                 "프린터 프로필 (*.yaml *.yml *.json);;모든 파일 (*)"))
            .toStdString();
    };
    const std::string file = choose(this);
    if (file.empty())
        return;
    m_state.reset();
    showPlan({});
    m_file->setText(text("Profile: %1", "프로필: %1").arg(QString::fromStdString(file)));
    const std::filesystem::path record = recordPathOr(m_deps.recordFile);
    const std::string identity = printerIdentity(m_deps.settings);
    const ModelFamily family = m_deps.settings.modelFamily;
    startJob(
        text("Checking the profile and reading the printer...", "프로필을 확인하고 프린터를 읽는 중..."),
        [this, file, record, identity, family](Job& job) {
            // The whole file is checked before a byte goes to the printer.
            auto state = loadStateFile(file, family);
            if (!state) {
                job.refused = true;
                job.error = state.message();
                return;
            }
            auto opened = StateRecord::open(record);
            if (!opened) {
                job.error = opened.message();
                return;
            }
            StateEngine engine(stateDeps(), opened->get(), identity);
            auto plan = engine.plan(*state, {});
            if (!plan) {
                job.error = plan.message();
                return;
            }
            job.state = std::move(*state);
            job.changes = std::move(plan->changes);
        },
        [this](Job& job) {
            if (job.refused) {
                showMessage(text("The profile was refused; nothing was sent to the printer:\n%1",
                                 "프로필에 오류가 있어 프린터에 아무것도 보내지 않았습니다:\n%1")
                                .arg(QString::fromStdString(job.error)),
                            true);
                return;
            }
            if (!job.error.empty()) {
                showMessage(text("The printer could not be compared with the profile: %1",
                                 "프린터를 프로필과 비교하지 못했습니다: %1")
                                .arg(QString::fromStdString(job.error)),
                            true);
                return;
            }
            m_state = std::move(job.state);
            showPlan(job.changes);
            if (job.changes.empty())
                showMessage(QString(), false);
            else
                showMessage(text("Apply Changes makes these changes on the printer.",
                                 "변경 적용을 누르면 프린터에 이 변경을 적용합니다."),
                            false);
        });
}

void CPrinterProfileDlg::showPlan(const std::vector<StateChange>& changes)
{
    m_rows = changes;
    m_rowStates.assign(changes.size(), RowState::Planned);
    m_table->setRowCount(int(changes.size()));
    for (int row = 0; row < int(changes.size()); ++row) {
        const StateChange& c = changes[std::size_t(row)];
        const QString cells[] = {QString::fromStdString(c.path), shown(c.from), shown(c.to),
                                 c.fromRecord ? text("record", "기록") : text("printer", "프린터"), QString()};
        for (int col = 0; col < ColumnCount; ++col)
            m_table->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    m_table->resizeColumnsToContents();
    m_bar->setRange(0, std::max(1, int(changes.size()) * 100));
    m_bar->setValue(0);
    if (!m_state)
        m_planSummary->clear();
    else if (changes.empty())
        m_planSummary->setText(text("Nothing to change: the printer already matches the profile",
                                    "변경할 것이 없습니다: 프린터가 이미 프로필과 같습니다"));
    else if (changes.size() == 1)
        m_planSummary->setText(text("1 change", "변경 1개"));
    else
        m_planSummary->setText(text("%1 changes", "변경 %1개").arg(changes.size()));
}

void CPrinterProfileDlg::setRow(int row, RowState state)
{
    m_rowStates[std::size_t(row)] = state;
    QString result;
    switch (state) {
    case RowState::Planned:
        break;
    case RowState::Applying:
        result = text("Applying...", "적용 중...");
        break;
    case RowState::Verified:
        result = text("Applied and verified", "적용 후 확인됨");
        break;
    case RowState::Applied:
        result = text("Applied (the printer does not report it)", "적용됨 (프린터가 보고하지 않는 항목)");
        break;
    case RowState::Failed:
        result = text("Failed", "실패");
        break;
    case RowState::NotReached:
        result = text("Not reached", "진행되지 않음");
        break;
    case RowState::NotNeeded:
        result = text("Already as in the profile", "이미 프로필과 같음");
        break;
    }
    if (QTableWidgetItem* item = m_table->item(row, ResultColumn))
        item->setText(result);
    m_table->resizeColumnToContents(ResultColumn);
}

void CPrinterProfileDlg::stepStarted(const StateChange& change)
{
    auto it = std::find_if(m_rows.begin(), m_rows.end(), [&](const StateChange& r) { return r.path == change.path; });
    int row = int(it - m_rows.begin());
    if (it == m_rows.end()) {
        // The apply found a change the plan did not show (the printer changed meanwhile, or
        // the firmware download made it report otherwise): it gets a row of its own.
        std::vector<StateChange> rows = m_rows;
        std::vector<RowState> states = m_rowStates;
        rows.push_back(change);
        showPlan(rows);
        states.push_back(RowState::Planned);
        for (int r = 0; r < int(states.size()); ++r)
            setRow(r, states[std::size_t(r)]);
    }
    m_current = row;
    setRow(row, RowState::Applying);
    m_bar->setValue(row * 100);
}

void CPrinterProfileDlg::showProgress(std::uint64_t done, std::uint64_t total)
{
    if (m_current < 0 || total == 0)
        return;
    m_bar->setValue(m_current * 100 + int(std::min<std::uint64_t>(done, total) * 100 / total));
}

void CPrinterProfileDlg::onApply()
{
    if (jobRunning() || !m_state)
        return;
    const std::filesystem::path record = recordPathOr(m_deps.recordFile);
    const std::string identity = printerIdentity(m_deps.settings);
    const DesiredState state = *m_state;
    m_current = -1;
    m_bar->setValue(0);
    startJob(
        text("Applying the profile...", "프로필을 적용하는 중..."),
        [this, state, record, identity](Job& job) {
            auto opened = StateRecord::open(record);
            if (!opened) {
                job.result.status = StateApplyResult::Status::Failed;
                job.result.error = "record: " + opened.message();
                return;
            }
            StateEngine engine(stateDeps(), opened->get(), identity);
            job.result = engine.apply(state, {}, [this](const StateChange& c) {
                QMetaObject::invokeMethod(this, [this, c] { stepStarted(c); }, Qt::QueuedConnection);
            });
        },
        [this](Job& job) { applyEnded(job.result); });
}

void CPrinterProfileDlg::applyEnded(const StateApplyResult& result)
{
    using S = StateApplyResult::Status;
    auto applied = [&](const StateChange& c) {
        return std::any_of(result.applied.begin(), result.applied.end(),
                           [&](const StateChange& a) { return a.path == c.path; });
    };
    for (int row = 0; row < int(m_rows.size()); ++row) {
        const StateChange& c = m_rows[std::size_t(row)];
        const RowState now = m_rowStates[std::size_t(row)];
        if (applied(c))
            setRow(row, c.fromRecord ? RowState::Applied : RowState::Verified);
        else if (now == RowState::Applying)
            setRow(row, RowState::Failed);
        else if (result.status == S::Failed || result.status == S::Partial)
            setRow(row, RowState::NotReached);
        else
            setRow(row, RowState::NotNeeded);
    }
    m_current = -1;
    const QString made = QString::number(result.applied.size());
    const auto [step, why] = splitStep(result.error);
    const QString at = QString::fromStdString(step.empty() ? "apply" : step);
    const QString reason = QString::fromStdString(why);
    switch (result.status) {
    case S::Unchanged:
        m_bar->setValue(m_bar->maximum());
        showMessage(text("The printer is unchanged: it already matched the profile.",
                         "프린터는 바뀌지 않았습니다: 이미 프로필과 같았습니다."),
                    false);
        break;
    case S::Changed:
        m_bar->setValue(m_bar->maximum());
        showMessage(text("The printer now holds the profile: %1 change(s) made, each verified where the printer "
                         "reports it.",
                         "프린터가 이제 프로필대로 설정되었습니다: 변경 %1개를 적용했고, 프린터가 보고하는 항목은 "
                         "확인했습니다.")
                        .arg(made),
                    false);
        break;
    case S::Failed:
        showMessage(text("No change was completed: failed at %1: %2", "완료된 변경이 없습니다: %1 단계에서 실패: %2")
                        .arg(at, reason),
                    true);
        break;
    case S::Partial:
        showMessage(text("The printer is partly changed: %1 change(s) made and kept in the record, then it failed "
                         "at %2: %3",
                         "프린터가 일부만 바뀌었습니다: 변경 %1개를 적용해 기록했고, %2 단계에서 실패했습니다: %3")
                        .arg(made, at, reason),
                    true);
        break;
    }
}
