#include "firmware/ui/CFwDownload15Dlg.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "app/Prompter.h"
#include "firmware/FirmwareChecks.h"
#include "firmware/PrinterReadyJob.h"
#include "firmware/ui/ReadyWithConnection.h"
#include "firmware/ui/FirmwareControls.h"
#include "qthost/AppIcon.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtControlName.h"
#include "qthost/QtProgressSink.h"
#include "qthost/QtStepDriver.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <atomic>
#include <filesystem>
#include <mutex>

namespace {

constexpr int kRadioIds[4] = {fw15::AreaProgram, fw15::AreaExtFont, fw15::AreaBoot, fw15::AreaFont};

} // namespace

// The download together with its connection, so that the driver's worker, which lets the job
// go, closes the port before the connection goes.
class CFwDownload15Dlg::DownloadWithConnection final : public StepJob {
public:
    DownloadWithConnection(std::unique_ptr<PrinterConnection> connection, const LegacyAreaSpec& area,
                           std::vector<std::uint8_t> image, FwDownload15DlgDeps& deps, ProgressSink& sink)
        : m_connection(std::move(connection)),
          m_job(*m_connection, area, std::move(image), deps.jobClock ? *deps.jobClock : SystemClock::instance(), sink,
                deps.options)
    {
    }
    StepResult step() override { return m_job.step(); }
    void cancel() override { m_job.cancel(); }
    void abort() override { m_job.abort(); }

private:
    std::unique_ptr<PrinterConnection> m_connection; // declared first: outlives m_job
    LegacyDownloadJob m_job;
};

// The area's state as the job's hook reports it from the worker; the dialog reads it after
// the job ended or was let go.
struct CFwDownload15Dlg::StateBox {
    mutable std::mutex mutex;
    AreaWriteState state;
};

CFwDownload15Dlg::CFwDownload15Dlg(FwDownload15DlgDeps deps, QWidget* parent)
    : QDialog(parent), m_deps(std::move(deps))
{
    setObjectName("CFwDownload15Dlg");
    // One page for both download dialogs, with a part for each.
    help::installF1(this, "firmware-update");
    setModal(true);
    setWindowIcon(appIcon());
    const bool ko = m_deps.korean;
    // The Korean captions of this dialog are our own; the English ones are the tool's.
    auto tr8 = [ko](const char* en, const char* kr) { return QString::fromUtf8(ko ? kr : en); };

    m_pathEdit = named(new QLineEdit, fw15::PathEdit);
    m_nameEdit = named(new QLineEdit, fw15::NameEdit);
    m_pathEdit->setEnabled(false);
    m_nameEdit->setEnabled(false);
    m_pathEdit->setMinimumWidth(320);
    m_open = named(new QPushButton(tr8("&Open", "열기(&O)")), fw15::Open);

    auto* areaBox = named(new QGroupBox(tr8("SELECT AREA", "영역 선택")), fw15::AreaBox);
    auto* areaLayout = new QVBoxLayout(areaBox);
    m_areas = new QButtonGroup(this);
    const char* en[4] = {"&1.Program", "&2.Ext Font", "&3.Boot", "&4.Font"};
    const char* kr[4] = {"&1.프로그램", "&2.확장 폰트", "&3.부트", "&4.폰트"};
    for (int i = 0; i < 4; ++i) {
        m_radio[i] = named(new QRadioButton(tr8(en[i], kr[i])), kRadioIds[i]);
        m_areas->addButton(m_radio[i], i);
        areaLayout->addWidget(m_radio[i]);
    }
    m_radio[0]->setChecked(true);
    m_radio[1]->setEnabled(false);
    // Boot is offered only in service mode, as in the F/W Update dialog: a wrong boot area
    // leaves a printer that cannot take another download.
    m_radio[2]->setVisible(m_deps.serviceMode);
    m_radio[2]->setEnabled(m_deps.serviceMode);

    auto* deviceBox = new QGroupBox(tr8("DEVICE", "프린터 종류"));
    auto* deviceLayout = new QVBoxLayout(deviceBox);
    deviceLayout->addWidget(named(new QLabel(QString::fromStdString(m_deps.summary).replace("\r\n", "\n")), fw15::Summary));

    m_progress = named(new QProgressBar, fw15::Progress);
    m_progress->setTextVisible(false);
    m_status = named(new QLabel, fw15::StatusLine);
    m_status->setWordWrap(true);
    m_ok = named(new QPushButton(tr8("OK", "확인")), fw15::Ok);
    m_cancel = named(new QPushButton(tr8("CANCEL", "취소")), fw15::Cancel);
    for (QPushButton* b : {m_open, m_ok, m_cancel})
        b->setAutoDefault(false);

    auto* files = new QVBoxLayout;
    files->addWidget(m_pathEdit);
    files->addWidget(m_nameEdit);
    auto* top = new QHBoxLayout;
    top->addLayout(files, 1);
    top->addWidget(m_open);
    auto* middle = new QHBoxLayout;
    middle->addWidget(areaBox);
    middle->addWidget(deviceBox, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    m_driver = new QtStepDriver(this, "legacyStepDriver", m_deps.jobClock);
    m_sink = std::make_unique<QtProgressSink>(this, [this](const ProgressReport& p) {
        m_progress->setRange(0, static_cast<int>(p.total));
        m_progress->setValue(static_cast<int>(p.done));
        if (!p.text.empty())
            setWindowTitle(QString::fromStdString(p.text));
    });
    connect(m_open, &QPushButton::clicked, this, &CFwDownload15Dlg::onOpen);
    connect(m_ok, &QPushButton::clicked, this, &CFwDownload15Dlg::onOk);
    connect(m_cancel, &QPushButton::clicked, this, &CFwDownload15Dlg::reject);

    setWindowTitle(kTitle);
    m_path = m_deps.profile.getString(kSection, "FOLDER");
    m_fileName = m_deps.profile.getString(kSection, "FILE");
    m_pathEdit->setText(QString::fromStdString(m_path));
    m_nameEdit->setText(QString::fromStdString(m_fileName));
}

CFwDownload15Dlg::~CFwDownload15Dlg()
{
    endJob(); // the job closes the port if it left it open, before the sink it reports to goes
}

bool CFwDownload15Dlg::running() const
{
    return m_driver->running();
}

QString CFwDownload15Dlg::statusText() const
{
    return m_status->text();
}

AreaWriteState CFwDownload15Dlg::lastState() const
{
    if (!m_state)
        return {};
    std::lock_guard lock(m_state->mutex);
    return m_state->state;
}

LegacyArea CFwDownload15Dlg::area() const
{
    const int id = m_areas->checkedId();
    return static_cast<LegacyArea>(id < 0 ? 0 : id);
}

void CFwDownload15Dlg::onOpen()
{
    std::string chosen;
    if (m_deps.chooseFile) {
        chosen = m_deps.chooseFile(this, kFilter);
    } else {
        chosen = QFileDialog::getOpenFileName(this, QString(), QString::fromStdString(m_path),
                                              "BINARY(*.bin);;ALL FILE(*.*)", nullptr, QFileDialog::ReadOnly)
                     .toStdString();
    }
    if (chosen.empty())
        return;
    m_path = chosen;
    m_fileName = std::filesystem::path(chosen).filename().string();
    m_pathEdit->setText(QString::fromStdString(m_path));
    m_nameEdit->setText(QString::fromStdString(m_fileName));
}

void CFwDownload15Dlg::onOk()
{
    if (running())
        return;
    auto areaSpec = legacyAreaSpec(area());
    if (!areaSpec)
        return;
    if (Status s = m_deps.profile.writeString(kSection, "FOLDER", m_path); !s)
        m_deps.errorLog.WriteLog("firmware: %s", s.message().c_str());
    if (Status s = m_deps.profile.writeString(kSection, "FILE", m_fileName); !s)
        m_deps.errorLog.WriteLog("firmware: %s", s.message().c_str());
    auto image = loadLegacyImage(m_path, *areaSpec);
    if (!image) {
        m_deps.errorLog.WriteLog("firmware: %s", image.message().c_str());
        m_deps.prompter.message(catalogText(Msg::FileOpenError));
        return;
    }
    // Nothing leaves for the printer before the file is known to hold the whole area, an
    // empty area is confirmed, and Boot is confirmed: No is the default of both questions.
    const ImageRange range = imageRangeOf(*areaSpec, m_deps.korean);
    if (auto problem = coverageProblem(image->size(), range, m_deps.korean)) {
        m_deps.errorLog.WriteLog("firmware: %s refused: %zu bytes", m_path.c_str(), image->size());
        m_deps.prompter.message(*problem);
        return;
    }
    if (auto fill = blankFill(*image, range); fill && !m_deps.prompter.askDefaultNo(blankAreaQuestion(range, *fill, m_deps.korean)))
        return;
    if (isDangerousArea(area()) && !m_deps.prompter.askDefaultNo(catalogText(Msg::ConfirmBootArea)))
        return;
    std::unique_ptr<PrinterConnection> connection =
        m_deps.connect ? m_deps.connect(legacyDownloadSettings(m_deps.settings)) : nullptr;
    if (!connection) {
        m_deps.prompter.message(catalogText(Msg::InitFail));
        return;
    }
    m_ok->setEnabled(false);
    m_status->clear();
    m_place = DownloadPlace{range.areaName, m_path, m_deps.settings.describe()};
    m_note = std::make_shared<DownloadNoteKeeper>(m_deps.noteFolder, m_place);
    m_state = std::make_shared<StateBox>();
    m_state->state = AreaWriteState::of(areaSpec->start, areaSpec->end);
    FwDownload15DlgDeps jobDeps = m_deps;
    jobDeps.options.stateChanged = [note = m_note, box = m_state, also = m_deps.options.stateChanged](const AreaWriteState& s) {
        {
            std::lock_guard lock(box->mutex);
            box->state = s;
        }
        note->stateChanged(s);
        if (also)
            also(s);
    };
    auto job = std::make_unique<DownloadWithConnection>(std::move(connection), *areaSpec, std::move(*image), jobDeps,
                                                        *m_sink);
    m_driver->start(std::move(job), [this](const StepResult& r) { finished(r); });
}

void CFwDownload15Dlg::finished(const StepResult& r)
{
    const AreaWriteState state = lastState();
    if (m_note)
        m_note->ended(state);
    // The job only finishes once the printer took the whole area; everything else fails.
    if (r.kind == StepResult::Kind::Finished) {
        std::unique_ptr<PrinterConnection> connection =
            m_deps.readyTimeout.count() > 0 && m_deps.connect ? m_deps.connect(legacyDownloadSettings(m_deps.settings))
                                                              : nullptr;
        if (!connection || !printerCanBeAsked(connection->traits())) {
            completed();
            return;
        }
        // The same worker asks the printer until it answers; the window paints meanwhile.
        PrinterReadyOptions options;
        options.timeout = m_deps.readyTimeout;
        m_status->setText(QString::fromStdString(printerReadyWaitingText(options.timeout, m_deps.korean)));
        auto result = std::make_shared<std::atomic<int>>(static_cast<int>(PrinterReady::NotAsked));
        m_waitingForPrinter = true;
        m_driver->start(std::make_unique<ReadyWithConnection>(std::move(connection),
                                                              m_deps.jobClock ? *m_deps.jobClock : SystemClock::instance(),
                                                              options, result),
                        [this, result, timeout = options.timeout](const StepResult&) {
                            m_waitingForPrinter = false;
                            m_status->setText(QString::fromStdString(
                                printerReadyText(static_cast<PrinterReady>(result->load()), timeout, m_deps.korean)));
                            completed();
                        });
        return;
    }
    m_deps.errorLog.WriteLog("firmware: %s", r.message.c_str());
    m_deps.prompter.message(r.message);
    m_deps.prompter.message(earlyEndMessage(state, m_place, "", m_deps.korean));
    setWindowTitle(kTitle);
    m_ok->setEnabled(true);
}

void CFwDownload15Dlg::completed()
{
    m_deps.prompter.message(catalogText(Msg::Completed));
    accept();
}

void CFwDownload15Dlg::endJob()
{
    m_driver->stop();
}

void CFwDownload15Dlg::reject()
{
    if (running()) {
        // The job hears it at once; the step in progress (a packet on its way at 9600 baud,
        // a 20 ms listen for the answer) returns, and no further step is taken.
        m_driver->cancel();
        endJob();
        if (m_waitingForPrinter) {
            // The area is complete; only the wait for the printer's answer was stopped.
            m_waitingForPrinter = false;
            m_deps.prompter.message(catalogText(Msg::Completed));
        } else {
            const AreaWriteState state = lastState();
            if (m_note)
                m_note->ended(state);
            m_deps.prompter.message(
                earlyEndMessage(state, m_place, m_deps.korean ? "취소되었습니다." : "Cancelled.", m_deps.korean));
        }
    }
    QDialog::reject();
}
