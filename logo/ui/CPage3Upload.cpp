#include "logo/ui/CPage3Upload.h"

#include "app/CErrorLog.h"
#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoListPanel.h"
#include "logo/ui/LogoProgressDlg.h"
#include "qthost/QtBusy.h"
#include "qthost/QtGuiCall.h"
#include "qthost/QtStatusLine.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using logo_page::named;
using logo_page::readOnlyBox;

CPage3Upload::CPage3Upload(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage3Upload");
    m_panel = new LogoListPanel(state.list, state.options, state.text("Image List", "이미지 목록"), state.deps.korean);
    auto* upload = named(new QPushButton(state.label("&Upload", "전송", 'U')), logo_ctl::kUpload);
    upload->setAutoDefault(false);
    upload->setMinimumHeight(34);
    m_printerName = readOnlyBox(logo_ctl::kUploadPrinterName);
    m_portName = readOnlyBox(logo_ctl::kUploadPortName);

    auto* side = new QVBoxLayout;
    side->addWidget(upload);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(m_panel, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(logo_page::printerDetails(state, m_printerName, m_portName));

    connect(upload, &QPushButton::clicked, this, &CPage3Upload::onUpload);
}

void CPage3Upload::onSetActive()
{
    m_panel->redraw();
    logo_page::showPrinterDetails(m_state, m_printerName, m_portName);
}

void CPage3Upload::clearPrinter()
{
    // The question is asked from the worker; the window keeps painting while the port opens.
    const logo_tool::LogoToolDeps deps = m_state.toolDeps();
    logo_tool::LogoReport r;
    runOnWorker([&] { r = logo_tool::clearLogos(deps); });
    if (!m_state.status)
        return;
    if (r.outcome == logo_tool::LogoOutcome::Done)
        m_state.status->showDone(m_state.text("The printer's NV bit-image memory is erased",
                                              "프린터의 NV 이미지 메모리를 지웠습니다"));
    else if (r.outcome == logo_tool::LogoOutcome::Failed)
        m_state.status->showFailure(QString::fromStdString(r.message));
}

void CPage3Upload::onUpload()
{
    // What the line said about an earlier action no longer holds once this one starts.
    if (m_state.status)
        m_state.status->clear();
    if (m_state.list.fileCount() == 0) {
        clearPrinter();
        return;
    }
    CProgress progress(m_state.deps.korean, window());
    // The notice, the question, the conversion of every picture, the opening and FS q n, on a
    // worker while this window waits busy (the boxes are asked from there); then the
    // progress window shows the printer's erase and the pictures. The erase is the printer's
    // time: a Cancel during it is heard at once but acted on after it.
    const auto drive = [this, &progress](StepJob& job) {
        StepResult r;
        {
            QtBusy busy(this, m_state.status, m_state.text("Preparing the pictures", "이미지 준비 중"));
            runOnWorker([&] { r = job.step(); });
        }
        if (r.kind == StepResult::Kind::Again)
            r = progress.run(job, r.after, QtStepDriver::FirstWait::KeptOnCancel);
        return r;
    };
    const logo_tool::LogoReport r = logo_tool::uploadLogos(m_state.toolDeps(&progress, drive), m_state.list,
                                                           m_state.options, &m_state.deps.profile, m_state.logKeys);

    QtStatusLine* status = m_state.status;
    const QString holds = QString::fromStdString(m_state.deps.korean ? r.printerHoldsKorean : r.printerHolds);
    switch (r.outcome) {
    case logo_tool::LogoOutcome::Done:
        m_state.logKeys = r.pictures;
        if (status) {
            if (r.message.empty())
                status->showDone(m_state.deps.korean ? QString::fromUtf8("%1개 이미지를 전송했습니다.").arg(r.pictures)
                                                     : QString("%1 picture(s) uploaded").arg(r.pictures));
            else
                status->showFailure(QString::fromStdString("logo log not written: " + r.message));
        }
        break;
    case logo_tool::LogoOutcome::Cancelled:
        // The log now names what the printer holds; the list shows the same, with its ticks.
        m_state.restore();
        m_panel->redraw();
        if (status)
            status->showMessage(m_state.text("Upload cancelled: ", "전송 취소: ") + holds +
                                (r.message.empty() ? QString() : " (logo log not written: " + QString::fromStdString(r.message) + ")"));
        break;
    case logo_tool::LogoOutcome::Failed:
        m_state.deps.errorLog.WriteLog("logo upload: %s", r.message.c_str());
        if (status)
            status->showFailure(QString::fromStdString(r.message) + " — " + holds);
        break;
    case logo_tool::LogoOutcome::Declined:
    case logo_tool::LogoOutcome::NotConnected:
        break;
    }
}
