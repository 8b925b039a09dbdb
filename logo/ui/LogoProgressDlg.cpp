#include "logo/ui/LogoProgressDlg.h"
#include "logo/ui/LogoControls.h"

#include "qthost/AppIcon.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtProgressSink.h"
#include "qthost/QtStepDriver.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <memory>

namespace {

int clampToInt(std::uint64_t v) { return int(std::min<std::uint64_t>(v, INT_MAX)); }

// The engines' progress lines in Korean: the words change, the counts and the file name stay.
QString progressText(const std::string& text, bool korean)
{
    const QString line = QString::fromStdString(text);
    if (!korean)
        return line;
    static const std::pair<const char*, const char*> words[] = {
        {"Erasing...", "지우는 중..."},
        {"Updating(", "전송 중("},
        {"Printing...", "인쇄 중..."},
    };
    for (const auto& [english, hangul] : words)
        if (line.startsWith(QLatin1String(english)))
            return QString::fromUtf8(hangul) + line.mid(int(std::strlen(english)));
    return line;
}

// The caller keeps the job; the driver only borrows it for the dialog's run.
class BorrowedJob final : public StepJob {
public:
    explicit BorrowedJob(StepJob& job) : m_job(job) {}
    StepResult step() override { return m_job.step(); }
    void cancel() override { m_job.cancel(); }
    void abort() override { m_job.abort(); }

private:
    StepJob& m_job;
};

} // namespace

StepProgressDlg::StepProgressDlg(const QString& title, bool korean, int statusId, int barId,
                                 std::uint64_t unitsPerStep, QWidget* parent)
    : QDialog(parent), m_unitsPerStep(std::max<std::uint64_t>(unitsPerStep, 1)), m_korean(korean)
{
    setModal(true);
    setWindowIcon(appIcon());
    setWindowTitle(title);
    m_status = new QLabel;
    m_status->setObjectName(logo_ctl::controlName(statusId));
    m_status->setMinimumWidth(360);
    m_status->setTextFormat(Qt::PlainText);
    m_bar = new QProgressBar;
    m_bar->setObjectName(logo_ctl::controlName(barId));
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_cancel = new QPushButton(QString::fromUtf8(korean ? "취소" : "Cancel"));
    m_cancel->setObjectName(logo_ctl::controlName(logo_ctl::kProgressCancel));
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &StepProgressDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);

    m_driver = new QtStepDriver(this, "stepDriver");
    m_stallWatch = new QTimer(this);
    m_stallWatch->setObjectName("cancelStallWatch");
    m_stallWatch->setSingleShot(true);
    m_stallWatch->setInterval(int(kCancelStallGrace.count()));
    connect(m_stallWatch, &QTimer::timeout, this, [this] { m_driver->abort(); });
    m_sink = std::make_unique<QtProgressSink>(this, [this](const ProgressReport& p) { show(p); });
}

StepProgressDlg::~StepProgressDlg()
{
    // The job reports to this window from its worker: it must be gone before the window.
    m_driver->stop();
}

StepResult StepProgressDlg::run(StepJob& job, std::chrono::milliseconds firstWait,
                                QtStepDriver::FirstWait firstWaitRule)
{
    m_result = StepResult::finished();
    m_stallWatch->stop();
    m_sinceReport.start();
    m_cancelRequested = false;
    // Started from the dialog's own event loop, so the window shows before the first step;
    // the kick ends with this call, so it can never start the job after run() returned.
    QTimer kick;
    kick.setSingleShot(true);
    connect(&kick, &QTimer::timeout, this, [this, &job, firstWait, firstWaitRule] {
        m_driver->start(
            std::make_unique<BorrowedJob>(job),
            [this](const StepResult& r) {
                m_result = r;
                QDialog::accept();
            },
            std::max(firstWait, std::chrono::milliseconds(0)), firstWaitRule);
    });
    kick.start(0);
    exec();
    m_driver->stop();
    return m_result;
}

void StepProgressDlg::reject()
{
    if (!m_driver->running()) {
        QDialog::reject();
        return;
    }
    if (m_cancelRequested)
        return;
    m_cancelRequested = true;
    m_cancel->setEnabled(false);
    m_status->setText(QString::fromUtf8(m_korean ? "취소하는 중..." : "Cancelling..."));
    // The job hears it now, also in the middle of a step; a wait for the next picture ends
    // at once, and the window stays until the job has ended.
    m_driver->cancel();
    // A printer that already took nothing for a while before the click has that much less.
    const qint64 quiet = m_sinceReport.isValid() ? m_sinceReport.elapsed() : 0;
    m_stallWatch->start(int(std::max<qint64>(0, kCancelStallGrace.count() - quiet)));
}

void StepProgressDlg::report(const ProgressReport& p)
{
    m_sink->report(p);
}

void StepProgressDlg::show(const ProgressReport& p)
{
    m_sinceReport.start();
    if (m_cancelRequested && m_stallWatch->isActive())
        m_stallWatch->start(int(kCancelStallGrace.count())); // still taking the picture being finished
    if (p.total > 0) {
        m_bar->setRange(0, std::max(1, clampToInt(p.total / m_unitsPerStep)));
        m_bar->setValue(clampToInt(std::min(p.done, p.total) / m_unitsPerStep));
    }
    if (!p.text.empty() && !m_cancelRequested)
        m_status->setText(progressText(p.text, m_korean));
}

QString StepProgressDlg::statusText() const { return m_status->text(); }

CProgress::CProgress(bool korean, QWidget* parent)
    : StepProgressDlg(QString::fromUtf8(korean ? "전송 중" : "Uploading"), korean, logo_ctl::kProgressStatus,
                      logo_ctl::kProgressBar, 100, parent)
{
    setObjectName("CProgress");
    help::installF1(this, "logo-upload");
}

CPrintingDlg::CPrintingDlg(bool korean, QWidget* parent)
    : StepProgressDlg(QString::fromUtf8(korean ? "인쇄 중" : "Printing"), korean, logo_ctl::kProgressStatus,
                      logo_ctl::kProgressBar, 1, parent)
{
    setObjectName("CPrintingDlg");
    help::installF1(this, "logo-printout");
}
