#include "logo/ui/LogoProgressDlg.h"

#include "qthost/AppIcon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

constexpr int kStatusId = 1057;
constexpr int kBarId = 1069;

int clampToInt(std::uint64_t v) { return int(std::min<std::uint64_t>(v, INT_MAX)); }

} // namespace

StepProgressDlg::StepProgressDlg(const QString& title, bool korean, int statusId, int barId,
                                 std::uint64_t unitsPerStep, QWidget* parent)
    : QDialog(parent), m_unitsPerStep(std::max<std::uint64_t>(unitsPerStep, 1)), m_korean(korean)
{
    setModal(true);
    setWindowIcon(appIcon());
    setWindowTitle(title);
    m_status = new QLabel;
    m_status->setObjectName(QString("ctl%1").arg(statusId));
    m_status->setMinimumWidth(360);
    m_status->setTextFormat(Qt::PlainText);
    m_bar = new QProgressBar;
    m_bar->setObjectName(QString("ctl%1").arg(barId));
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_cancel = new QPushButton(QString::fromUtf8(korean ? "취소" : "Cancel"));
    m_cancel->setObjectName("ctl2");
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &StepProgressDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);

    m_timer = new QTimer(this);
    m_timer->setObjectName("stepTimer");
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &StepProgressDlg::step);
}

StepResult StepProgressDlg::run(StepJob& job, std::chrono::milliseconds firstWait)
{
    m_job = &job;
    m_result = StepResult::finished();
    m_timer->start(int(std::max<std::int64_t>(firstWait.count(), 0)));
    exec();
    m_timer->stop();
    m_job = nullptr;
    return m_result;
}

void StepProgressDlg::step()
{
    if (!m_job)
        return;
    m_inStep = true;
    StepResult r = m_job->step();
    m_inStep = false;
    if (r.kind == StepResult::Kind::Again) {
        // A Cancel pressed during the step is served at once instead of after the pause.
        m_timer->start(m_cancelRequested ? 0 : int(r.after.count()));
        return;
    }
    m_result = r;
    m_job = nullptr;
    QDialog::accept();
}

void StepProgressDlg::reject()
{
    if (!m_job) {
        QDialog::reject();
        return;
    }
    if (m_cancelRequested)
        return;
    m_cancelRequested = true;
    m_job->cancel();
    m_cancel->setEnabled(false);
    m_status->setText(QString::fromUtf8(m_korean ? "취소하는 중..." : "Cancelling..."));
    // Waiting for the printer's erase or the next picture: the job hears it now. A step that
    // is running (its block pauses serve input) restarts the timer itself when it returns.
    if (!m_inStep)
        m_timer->start(0);
}

void StepProgressDlg::report(const ProgressReport& p)
{
    if (p.total > 0) {
        m_bar->setRange(0, std::max(1, clampToInt(p.total / m_unitsPerStep)));
        m_bar->setValue(clampToInt(std::min(p.done, p.total) / m_unitsPerStep));
    }
    if (!p.text.empty() && !m_cancelRequested)
        m_status->setText(QString::fromStdString(p.text));
}

QString StepProgressDlg::statusText() const { return m_status->text(); }

CProgress::CProgress(bool korean, QWidget* parent)
    : StepProgressDlg(QString::fromUtf8(korean ? "전송 중" : "Uploading"), korean, kStatusId, kBarId, 100, parent)
{
    setObjectName("CProgress");
}

CPrintingDlg::CPrintingDlg(bool korean, QWidget* parent)
    : StepProgressDlg(QString::fromUtf8(korean ? "인쇄 중" : "Printing"), korean, kStatusId, kBarId, 1, parent)
{
    setObjectName("CPrintingDlg");
}
